#include "net/imap_tokens.h"

#include <array>
#include <vector>

#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::array<const char*, kMessageFlagCount> kMessageFlagWords = {
    "\\Seen", "\\Answered", "\\Flagged", "\\Deleted",
    "\\Draft", "\\Recent", "\\*"};

// Flag lists look at no more than this many words.
constexpr std::size_t kMessageFlagWordsLooked = 7;
constexpr std::size_t kMailboxFlagWordsLooked = 3;

// Words separated by blanks; runs of blanks give no empty words.
std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool IsParenthesised(std::string_view text) {
  return text.size() >= 2 && text.front() == '(' && text.back() == ')';
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::optional<TMessageFlag> MessageFlagOfWord(std::string_view word) {
  for (int i = 0; i < kMessageFlagCount; ++i) {
    if (word == kMessageFlagWords[i]) return static_cast<TMessageFlag>(i);
  }
  return std::nullopt;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* MessageFlagWord(TMessageFlag flag) {
  return kMessageFlagWords[static_cast<std::size_t>(flag)];
}

std::string MessageFlagText(TMessageFlagSet flags) {
  std::string text;
  for (int i = 0; i < kMessageFlagCount; ++i) {
    if (!flags.Contains(static_cast<TMessageFlag>(i))) continue;
    if (!text.empty()) text += ' ';
    text += kMessageFlagWords[i];
  }
  return text;
}

bool ImapToken::IsNil() const {
  return kind == Kind::kAtom && SameText(raw, "NIL");
}

std::string ImapToken::Text() const {
  if (IsNil()) return std::string();
  return has_escapes ? unescaped : std::string(raw);
}

void ImapCursor::Skip(std::size_t count) {
  position_ = count < text_.size() - position_ ? position_ + count : text_.size();
}

void ImapCursor::SkipBlanks() {
  while (!AtEnd() && text_[position_] == ' ') ++position_;
}

bool ImapCursor::LooksAt(std::string_view word) const {
  return StartsWithNoCase(Rest(), word);
}

ImapToken ImapCursor::ReadToken() {
  if (AtEnd()) return ImapToken{};
  if (Peek() == '"') return ReadQuoted();
  if (Peek() == '{') {
    std::size_t marker_length = 0;
    if (LiteralMarkerLength(Rest(), marker_length)) return ReadLiteral();
  }
  ImapToken token;
  token.kind = ImapToken::Kind::kAtom;
  const std::size_t start = position_;
  while (!AtEnd() && Peek() != ' ' && Peek() != ')') ++position_;
  token.raw = text_.substr(start, position_ - start);
  return token;
}

ImapToken ImapCursor::ReadQuoted() {
  ImapToken token;
  token.kind = ImapToken::Kind::kQuoted;
  ++position_;  // the opening quote
  const std::size_t start = position_;
  // A backslash quotes the next character (RFC 2060 quoted strings), so an
  // escaped quote does not end the string.
  while (!AtEnd() && Peek() != '"') {
    if (Peek() == '\\' && position_ + 1 < text_.size()) {
      token.has_escapes = true;
      ++position_;
    }
    token.unescaped += text_[position_];
    ++position_;
  }
  token.raw = text_.substr(start, position_ - start);
  if (!AtEnd()) ++position_;  // the closing quote
  return token;
}

ImapToken ImapCursor::ReadLiteral() {
  std::size_t marker_length = 0;
  const std::uint64_t length = *LiteralMarkerLength(Rest(), marker_length);
  const std::size_t start = position_ + marker_length;
  if (length > text_.size() - start) {
    throw EImapError("Literal runs past the end of the response");
  }
  ImapToken token;
  token.kind = ImapToken::Kind::kLiteral;
  token.raw = text_.substr(start, static_cast<std::size_t>(length));
  position_ = start + static_cast<std::size_t>(length);
  return token;
}

std::optional<std::string_view> ImapCursor::ReadThrough(char stop) {
  const std::size_t found = text_.find(stop, position_);
  if (found == std::string_view::npos) return std::nullopt;
  const std::string_view text = text_.substr(position_, found + 1 - position_);
  position_ = found + 1;
  return text;
}

std::optional<std::string_view> ImapCursor::ReadUntilBlankOrParen() {
  const std::size_t found = text_.find_first_of(" )", position_);
  if (found == std::string_view::npos) return std::nullopt;
  const std::string_view text = text_.substr(position_, found - position_);
  position_ = found;
  return text;
}

void ImapCursor::SkipValue() {
  if (Peek() != '(') {
    ReadToken();
    return;
  }
  // A parenthesised list; depth bounded by the line itself.
  int depth = 0;
  while (!AtEnd()) {
    const char c = Peek();
    if (c == '(') {
      ++depth;
      ++position_;
    } else if (c == ')') {
      --depth;
      ++position_;
      if (depth == 0) return;
    } else if (c == ' ') {
      ++position_;
    } else {
      // Always moves on: the character is neither a blank nor a parenthesis.
      ReadToken();
    }
  }
}

std::optional<std::uint64_t> LiteralMarkerLength(std::string_view text,
                                                 std::size_t& marker_length) {
  // At most 18 digits, so the value always fits.
  constexpr std::size_t kMaxDigits = 18;
  if (text.empty() || text[0] != '{') return std::nullopt;
  std::size_t i = 1;
  std::uint64_t length = 0;
  while (i < text.size() && IsDigit(text[i]) && i <= kMaxDigits) {
    length = length * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++i;
  }
  if (i == 1 || i >= text.size() || text[i] != '}') return std::nullopt;
  marker_length = i + 1;
  return length;
}

TMessageFlagSet ParseMessageFlagsStrict(std::string_view text) {
  TMessageFlagSet flags;
  if (text.empty()) return flags;
  if (!IsParenthesised(text)) {
    throw EImapError("Uncorrect paranthesis list " + Quoted(text));
  }
  const std::vector<std::string_view> words = SplitWords(text.substr(1, text.size() - 2));
  for (std::size_t i = 0; i < words.size() && i < kMessageFlagWordsLooked; ++i) {
    // Keywords ($NotJunk, $Forwarded, ...) are set by other mail clients on
    // ordinary messages; refusing them would fail every later run of the
    // account, so only an unknown system flag counts as an error.
    if (words[i].empty() || words[i].front() != '\\') continue;
    const std::optional<TMessageFlag> flag = MessageFlagOfWord(words[i]);
    if (!flag) throw EImapError("Uncorrect message flag " + Quoted(words[i]));
    flags.Include(*flag);
  }
  return flags;
}

TMessageFlagSet ParseMessageFlagsLenient(std::string_view text) {
  if (!text.empty() && text.front() == '(') text.remove_prefix(1);
  if (!text.empty() && text.back() == ')') text.remove_suffix(1);
  TMessageFlagSet flags;
  const std::vector<std::string_view> words = SplitWords(text);
  for (std::size_t i = 0; i < words.size() && i < kMessageFlagWordsLooked; ++i) {
    if (const std::optional<TMessageFlag> flag = MessageFlagOfWord(words[i])) {
      flags.Include(*flag);
    }
  }
  return flags;
}

TMailBoxFlag ParseMailboxFlags(std::string_view text) {
  if (!IsParenthesised(text)) {
    throw EImapError("Uncorrect paranthesis list " + Quoted(text));
  }
  TMailBoxFlag options;
  const std::vector<std::string_view> words = SplitWords(text.substr(1, text.size() - 2));
  for (std::size_t i = 0; i < words.size() && i < kMailboxFlagWordsLooked; ++i) {
    const std::string word = UpperCase(words[i]);
    if (word == "\\NOINFERIORS") {
      options.Include(TMailBoxOption::Noinferiors);
    } else if (word == "\\NOSELECT") {
      options.Include(TMailBoxOption::Noselect);
    } else if (word == "\\UNMARKED") {
      options.Include(TMailBoxOption::Unmarked);
    } else if (word == "\\MARKED") {
      options.Include(TMailBoxOption::Marked);
    } else {
      throw EImapError("Uncorrect mailbox flag " + Quoted(words[i]));
    }
  }
  return options;
}

ImapMailboxLine ParseMailboxLine(std::string_view text) {
  ImapMailboxLine line;
  ImapCursor cursor(text);
  const std::optional<std::string_view> flag_text = cursor.ReadThrough(')');
  if (!flag_text) {
    line.flag_text = std::string(text);
  } else {
    line.flag_text = std::string(*flag_text);
  }
  try {
    line.options = ParseMailboxFlags(line.flag_text);
  } catch (const EImapError&) {
    // Servers add attributes of their own (\\HasNoChildren, \\Subscribed,
    // ...) to LIST and LSUB lines; the options then stay empty.
  }
  if (!flag_text) return line;
  cursor.SkipBlanks();
  line.delimiter = cursor.ReadToken().Text();
  cursor.SkipBlanks();
  line.name = cursor.ReadToken().Text();
  return line;
}

std::optional<int> MatchNumberedResponse(std::string_view text, std::string_view word) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos || text.substr(blank + 1) != word) return std::nullopt;
  const std::string_view digits = text.substr(0, blank);
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
  }
  int number = 0;
  if (!TryStrToInt(digits, number)) return std::nullopt;
  return number;
}

std::optional<int> LeadingInteger(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && IsDigit(text[end])) ++end;
  int number = 0;
  if (end == 0 || !TryStrToInt(text.substr(0, end), number)) return std::nullopt;
  return number;
}

}  // namespace quillon
