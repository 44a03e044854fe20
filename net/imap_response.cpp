#include "net/imap_response.h"

#include "platform/text.h"

namespace quillon {

namespace {

const char kBadEnvelope[] = "Bad ENVELOPE responce";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A token that must be there: the text ending first is a bad envelope.
ImapToken RequireEnvelopeToken(ImapCursor& cursor) {
  cursor.SkipBlanks();
  if (cursor.AtEnd() || cursor.Peek() == ')') throw EImapError(kBadEnvelope);
  return cursor.ReadToken();
}

// "(" name adl mailbox host ")", the cursor on the "(".
ImapAddress ParseAddress(ImapCursor& cursor) {
  cursor.Skip(1);
  const ImapToken name = RequireEnvelopeToken(cursor);
  RequireEnvelopeToken(cursor);  // the source route, not used
  const ImapToken mailbox = RequireEnvelopeToken(cursor);
  const ImapToken host = RequireEnvelopeToken(cursor);
  cursor.SkipBlanks();
  if (cursor.Peek() != ')') throw EImapError(kBadEnvelope);
  cursor.Skip(1);
  ImapAddress address;
  address.name = name.Text();
  if (host.IsNil()) {
    address.address = "Group:" + mailbox.Text();
  } else {
    address.address = mailbox.Text() + "@" + host.Text();
  }
  return address;
}

// NIL or "(" address... ")".
ImapAddressList ParseAddressList(ImapCursor& cursor) {
  cursor.SkipBlanks();
  if (cursor.AtEnd()) throw EImapError(kBadEnvelope);
  ImapAddressList list;
  if (cursor.Peek() != '(') {
    const ImapToken token = cursor.ReadToken();
    if (!token.IsNil()) throw EImapError(kBadEnvelope);
    return list;
  }
  list.nil = false;
  cursor.Skip(1);
  for (;;) {
    cursor.SkipBlanks();
    if (cursor.AtEnd()) throw EImapError(kBadEnvelope);
    if (cursor.Peek() == ')') break;
    if (cursor.Peek() != '(') throw EImapError(kBadEnvelope);
    list.addresses.push_back(ParseAddress(cursor));
  }
  cursor.Skip(1);
  return list;
}

// RFC 2060 order: date, subject, from, sender, reply-to, to, cc, bcc,
// in-reply-to, message-id.
ImapEnvelope ParseEnvelope(ImapCursor& cursor) {
  cursor.SkipBlanks();
  if (cursor.Peek() != '(') throw EImapError(kBadEnvelope);
  cursor.Skip(1);
  ImapEnvelope envelope;
  envelope.date = RequireEnvelopeToken(cursor).Text();
  const ImapToken subject = RequireEnvelopeToken(cursor);
  if (!subject.IsNil()) envelope.subject = subject.Text();
  envelope.from = ParseAddressList(cursor);
  ParseAddressList(cursor);  // sender
  ParseAddressList(cursor);  // reply-to
  envelope.to = ParseAddressList(cursor);
  envelope.cc = ParseAddressList(cursor);
  envelope.bcc = ParseAddressList(cursor);
  RequireEnvelopeToken(cursor);  // in-reply-to
  RequireEnvelopeToken(cursor);  // message-id
  cursor.SkipBlanks();
  if (cursor.Peek() != ')') throw EImapError(kBadEnvelope);
  cursor.Skip(1);
  return envelope;
}

int ParseItemNumber(ImapCursor& cursor, const char* error) {
  const std::optional<std::string_view> digits = cursor.ReadUntilBlankOrParen();
  int number = 0;
  if (!digits || !TryStrToInt(*digits, number)) throw EImapError(error);
  return number;
}

// An item name, with a "[section]" and an "<origin>" when present.
void SkipItemName(ImapCursor& cursor) {
  while (!cursor.AtEnd() && cursor.Peek() != ' ' && cursor.Peek() != '(' &&
         cursor.Peek() != ')' && cursor.Peek() != '[') {
    cursor.Skip(1);
  }
  if (cursor.Peek() == '[' && !cursor.ReadThrough(']')) cursor.Skip(cursor.Rest().size());
  if (cursor.Peek() == '<' && !cursor.ReadThrough('>')) cursor.Skip(cursor.Rest().size());
}

// An item name and its value, for items that carry nothing we keep.
void SkipItem(ImapCursor& cursor) {
  const std::size_t start = cursor.Position();
  SkipItemName(cursor);
  cursor.SkipBlanks();
  if (!cursor.AtEnd() && cursor.Peek() != ')') cursor.SkipValue();
  if (cursor.Position() == start) cursor.Skip(1);
}

ImapFetchItem ParseFlagsItem(ImapCursor& cursor) {
  ImapFetchItem item;
  item.kind = ImapFetchItemKind::kFlags;
  cursor.Skip(5);
  cursor.SkipBlanks();
  const std::optional<std::string_view> text = cursor.ReadThrough(')');
  if (!text) throw EImapError("Bad flag list");
  item.flag_text = std::string(*text);
  item.flags = ParseMessageFlagsStrict(*text);
  return item;
}

ImapFetchItem TokenItem(ImapCursor& cursor, ImapFetchItemKind kind, std::size_t name_length) {
  ImapFetchItem item;
  item.kind = kind;
  cursor.Skip(name_length);
  cursor.SkipBlanks();
  item.token = cursor.ReadToken();
  return item;
}

ImapFetchItem NumberItem(ImapCursor& cursor, ImapFetchItemKind kind,
                         std::size_t name_length, const char* error) {
  ImapFetchItem item;
  item.kind = kind;
  cursor.Skip(name_length);
  cursor.SkipBlanks();
  item.number = ParseItemNumber(cursor, error);
  return item;
}

bool LooksAtItem(const ImapCursor& cursor, std::string_view name) {
  if (!cursor.LooksAt(name)) return false;
  const std::string_view rest = cursor.Rest().substr(name.size());
  return rest.empty() || rest[0] == ' ' || rest[0] == ')' || rest[0] == '(';
}

// Parses the item at the cursor; false when it was one we skip.
bool ParseItem(ImapCursor& cursor, ImapFetchItem& item) {
  if (LooksAtItem(cursor, "FLAGS")) {
    item = ParseFlagsItem(cursor);
  } else if (LooksAtItem(cursor, "INTERNALDATE")) {
    item = TokenItem(cursor, ImapFetchItemKind::kInternalDate, 12);
  } else if (LooksAtItem(cursor, "RFC822")) {
    item = TokenItem(cursor, ImapFetchItemKind::kRfc822, 6);
  } else if (LooksAtItem(cursor, "RFC822.HEADER")) {
    item = TokenItem(cursor, ImapFetchItemKind::kRfc822Header, 13);
  } else if (LooksAtItem(cursor, "RFC822.TEXT")) {
    item = TokenItem(cursor, ImapFetchItemKind::kRfc822Text, 11);
  } else if (LooksAtItem(cursor, "RFC822.SIZE")) {
    item = NumberItem(cursor, ImapFetchItemKind::kRfc822Size, 11,
                      "Bad RFC822.SIZE in FETCH responce");
  } else if (LooksAtItem(cursor, "UID")) {
    item = NumberItem(cursor, ImapFetchItemKind::kUid, 3, "Bad UID in FETCH responce");
  } else if (LooksAtItem(cursor, "ENVELOPE")) {
    cursor.Skip(8);
    item = ImapFetchItem{};
    item.kind = ImapFetchItemKind::kEnvelope;
    item.envelope = ParseEnvelope(cursor);
  } else if (cursor.LooksAt("BODY[") || LooksAtItem(cursor, "BODY")) {
    SkipItem(cursor);
    item = ImapFetchItem{};
    item.kind = ImapFetchItemKind::kBody;
  } else {
    SkipItem(cursor);
    return false;
  }
  return true;
}

}  // namespace

std::string_view ImapFetchItem::Content() const {
  if (token.IsNil()) return std::string_view();
  return token.has_escapes ? std::string_view(token.unescaped) : token.raw;
}

std::optional<int> MatchFetchResponse(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && IsDigit(text[digits])) ++digits;
  if (digits == 0 || !StartsWithNoCase(text.substr(digits), " FETCH (")) {
    return std::nullopt;
  }
  int number = 0;
  if (!TryStrToInt(text.substr(0, digits), number)) return std::nullopt;
  return number;
}

ImapFetchResponse ParseFetchResponse(std::string_view text) {
  ImapFetchResponse response;
  const std::optional<int> number = MatchFetchResponse(text);
  if (!number) throw EImapError("Not a FETCH response");
  response.number = *number;
  const std::size_t open = text.find('(');
  ImapCursor cursor(text, open + 1);
  for (;;) {
    cursor.SkipBlanks();
    if (cursor.AtEnd() || cursor.Peek() == ')') break;
    ImapFetchItem item;
    if (ParseItem(cursor, item)) response.items.push_back(std::move(item));
  }
  return response;
}

}  // namespace quillon
