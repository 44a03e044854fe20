#include "mail/header_words.h"

#include <optional>

#include "mail/base64.h"
#include "mail/mail_errors.h"
#include "mail/quoted_printable.h"
#include "platform/text.h"

namespace quillon {

namespace {

constexpr std::size_t kShortStringLength = 255;

struct EncodedWord {
  std::size_t begin = 0;  // at "=?"
  std::size_t end = 0;    // just after "?="
  std::string decoded;
};

std::optional<std::string> DecodeWordText(char letter, std::string_view text) {
  if (letter == 'B' || letter == 'b') {
    try {
      return Base64DecodeLine(text);
    } catch (const ECodecError&) {
      return std::nullopt;
    }
  }
  if (letter == 'Q' || letter == 'q') {
    // In "Q" words an underscore stands for a blank (an encoded "=5F" is a
    // real underscore, so the swap comes before decoding).
    std::string underscores_as_blanks(text);
    for (char& c : underscores_as_blanks) {
      if (c == '_') c = ' ';
    }
    return QPDecodeText(underscores_as_blanks);
  }
  return std::nullopt;
}

// The first well-formed encoded word at or after `from`:
// "=?" charset "?" letter "?" text "?=".
std::optional<EncodedWord> FindEncodedWord(std::string_view value, std::size_t from) {
  for (std::size_t open = value.find("=?", from); open != std::string_view::npos;
       open = value.find("=?", open + 1)) {
    std::size_t charset_end = value.find('?', open + 2);
    if (charset_end == std::string_view::npos) return std::nullopt;
    if (charset_end + 2 >= value.size() || value[charset_end + 2] != '?') continue;
    std::size_t text_begin = charset_end + 3;
    std::size_t close = value.find("?=", text_begin);
    if (close == std::string_view::npos) return std::nullopt;
    auto decoded = DecodeWordText(value[charset_end + 1],
                                  value.substr(text_begin, close - text_begin));
    if (!decoded) continue;
    return EncodedWord{open, close + 2, std::move(*decoded)};
  }
  return std::nullopt;
}

bool OnlyBlanks(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::string DecodeHeaderWords(std::string_view value) {
  value = value.substr(0, std::min(value.size(), kShortStringLength));
  std::string result;
  std::size_t position = 0;
  bool previous_was_word = false;
  while (auto word = FindEncodedWord(value, position)) {
    std::string_view between = value.substr(position, word->begin - position);
    // Whitespace between two adjacent encoded words is not part of the text.
    if (!(previous_was_word && OnlyBlanks(between))) result.append(between);
    result.append(word->decoded);
    position = word->end;
    previous_was_word = true;
  }
  result.append(value.substr(position));
  return Cut(result, kShortStringLength);
}

}  // namespace quillon
