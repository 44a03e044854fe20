#include "net/imap_command_text.h"

#include <algorithm>
#include <cstdint>

namespace quillon {

namespace {

bool NeedsLiteral(unsigned char c) {
  // 8-bit bytes and DEL cannot be sent in an atom either (RFC 2060 ATOM-CHAR).
  return c < 32 || c >= 127 || c == ' ' || c == '"' || c == '%' || c == '(' || c == ')' ||
         c == '*' || c == '\\' || c == '{';
}

// The literal marker "{digits}" starting at `open`; false when there is
// none (the "{" is then ordinary text).
bool MarkerAt(std::string_view text, std::size_t open, std::size_t& close,
              std::uint64_t& length) {
  constexpr std::size_t kMaxDigits = 18;
  std::size_t i = open + 1;
  length = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - open <= kMaxDigits) {
    length = length * 10 + static_cast<std::uint64_t>(text[i] - '0');
    ++i;
  }
  if (i == open + 1 || i >= text.size() || text[i] != '}') return false;
  close = i;
  return true;
}

}  // namespace

std::string QuoteArgument(std::string_view text) {
  if (text.empty()) return "\"\"";
  const bool literal = std::any_of(text.begin(), text.end(), [](char c) {
    return NeedsLiteral(static_cast<unsigned char>(c));
  });
  if (!literal) return std::string(text);
  return "{" + std::to_string(text.size()) + "}" + std::string(text);
}

std::vector<ImapCommandPiece> SplitCommandText(std::string_view text) {
  std::vector<ImapCommandPiece> pieces;
  std::size_t start = 0;
  std::size_t i = 0;
  bool in_quotes = false;
  while (i < text.size()) {
    const char c = text[i];
    std::size_t close = 0;
    std::uint64_t length = 0;
    if (c == '"') {
      in_quotes = !in_quotes;
    } else if (c == '{' && !in_quotes && MarkerAt(text, i, close, length)) {
      const std::size_t literal_start = close + 1;
      const std::size_t literal_length = static_cast<std::size_t>(
          std::min<std::uint64_t>(length, text.size() - literal_start));
      pieces.push_back(ImapCommandPiece{text.substr(start, close - start),
                                        text.substr(literal_start, literal_length), true});
      i = start = literal_start + literal_length;
      continue;
    }
    ++i;
  }
  pieces.push_back(ImapCommandPiece{text.substr(start), {}, false});
  return pieces;
}

std::string FormatSequenceSet(std::vector<int> numbers) {
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::string set;
  std::size_t i = 0;
  while (i < numbers.size()) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!set.empty()) set += ',';
    set += std::to_string(numbers[i]);
    if (j > i) set += ":" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return set;
}

}  // namespace quillon
