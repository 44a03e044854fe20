#include "platform/text.h"

#include <cctype>
#include <climits>

namespace quillon {

namespace {

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDigits(std::string_view digits, int base, bool negative,
                 int& value) {
  if (digits.empty()) return false;
  long long result = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0 || digit >= base) return false;
    result = result * base + digit;
    // Hex may fill all 32 bits (as "$FFFFFFFF" does); decimal may not.
    const long long limit = base == 16 ? 0xFFFFFFFFLL
                                       : (negative ? 2147483648LL : INT_MAX);
    if (result > limit) return false;
  }
  if (base == 16) {
    value = static_cast<int>(static_cast<unsigned int>(result));
    if (negative) value = -value;
  } else {
    value = negative ? static_cast<int>(-result) : static_cast<int>(result);
  }
  return true;
}

}  // namespace

std::string Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

std::string TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsTrimmed(text[start])) ++start;
  return std::string(text.substr(start));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         SameText(text.substr(0, prefix.size()), prefix);
}

std::size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (SameText(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

bool TryStrToInt(std::string_view text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;  // leading blanks are allowed

  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string_view rest = text.substr(i);
  if (!rest.empty() && rest[0] == '$') return ParseDigits(rest.substr(1), 16, negative, value);
  if (rest.size() > 1 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    return ParseDigits(rest.substr(2), 16, negative, value);
  }
  return ParseDigits(rest, 10, negative, value);
}

int StrToIntDef(std::string_view text, int default_value) {
  int value = 0;
  return TryStrToInt(text, value) ? value : default_value;
}

std::string Cut(std::string_view text, std::size_t capacity) {
  return std::string(text.substr(0, capacity));
}

}  // namespace quillon
