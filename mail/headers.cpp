#include "mail/headers.h"

#include "mail/header_words.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::size_t kShortStringLength = 255;
// Stands in for a comma inside a quoted display name while splitting.
constexpr char kProtectedComma = '\x01';

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string WithColon(std::string_view name) {
  std::string field(name);
  if (field.empty() || field.back() != ':') field.push_back(':');
  return field;
}

// The text after the first colon; the one character after the colon is
// dropped only when it is a blank or a tab ("To:bob@example.org" keeps its
// first letter).
std::string_view TextAfterColon(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  std::string_view rest = line.substr(colon + 1);
  if (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
  return rest;
}

// Commas inside a double-quoted stretch are protected (quotes toggle).
std::string ProtectQuotedCommas(std::string_view text) {
  std::string result(text);
  if (result.find('"') == std::string::npos) return result;
  bool quoted = false;
  for (char& c : result) {
    if (c == '"') quoted = !quoted;
    if (quoted && c == ',') c = kProtectedComma;
  }
  return result;
}

void SplitAddresses(std::string_view text, TStringList& list) {
  std::string protected_text = ProtectQuotedCommas(text);
  std::string_view rest(protected_text);
  while (true) {
    std::size_t comma = rest.find(',');
    std::string piece = Cut(Trim(rest.substr(0, comma)), kShortStringLength);
    // The empty piece after a trailing comma (folded lists end lines with
    // one) is no address.
    if (!piece.empty()) list.push_back(DecodeHeaderWords(piece));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace

std::string TmsHeaders::GetFieldValue(std::string_view name) const {
  if (empty()) return {};
  const std::string field = UpperCase(WithColon(name));
  std::size_t index = 0;
  while (index < size() && !StartsWithNoCase((*this)[index], field)) ++index;
  if (index == size()) return {};
  std::string value = Trim(TextAfterColon((*this)[index]));
  for (++index; index < size() && IsContinuation((*this)[index]); ++index) {
    value.push_back(' ');
    value.append(Trim((*this)[index]));
  }
  if (field == "CONTENT-TYPE:" || field == "X-UIDL:") return value;
  return DecodeHeaderWords(Cut(value, kShortStringLength));
}

void TmsHeaders::GetFieldValues(std::string_view name, TStringList& list) const {
  list.clear();
  bool in_field = false;
  for (const std::string& line : *this) {
    bool has_colon = line.find(':') != std::string::npos;
    if (in_field && !has_colon) {
      // Continuation lines are split the same way as the first line.
      SplitAddresses(line, list);
      continue;
    }
    in_field = false;
    if (!StartsWithNoCase(line, name)) continue;
    if (!has_colon) break;
    in_field = true;
    SplitAddresses(TextAfterColon(line), list);
  }
  for (std::string& entry : list) {
    for (char& c : entry) {
      if (c == kProtectedComma) c = ',';
    }
  }
}

void TmsHeaders::DeleteField(std::string_view name) {
  const std::string field = WithColon(name);
  for (std::size_t index = 0; index < size(); ++index) {
    if (!StartsWithNoCase((*this)[index], field)) continue;
    std::size_t end = index + 1;
    while (end < size() && IsContinuation((*this)[end])) ++end;
    erase(begin() + static_cast<std::ptrdiff_t>(index),
          begin() + static_cast<std::ptrdiff_t>(end));
    return;
  }
}

void TmsHeaders::TruncateAtBlankLine() {
  for (std::size_t index = 0; index < size(); ++index) {
    if ((*this)[index].empty()) {
      erase(begin() + static_cast<std::ptrdiff_t>(index), end());
      return;
    }
  }
}

}  // namespace quillon
