// Quoted-printable between a byte stream and a list of text lines.
#pragma once

#include <string>
#include <string_view>

#include "platform/streams.h"
#include "platform/string_list.h"

namespace quillon {

class TQuotedPrintable {
 public:
  // Neither reference is owned.
  TQuotedPrintable(TStream& stream, TStringList& lines)
      : stream_(stream), lines_(lines) {}

  // All of Stream (from position 0) as encoded lines appended to Lines:
  // paragraphs split into pieces of at most 65 characters with "=" soft
  // breaks. Paragraphs may be of any size.
  void Encode();
  // All of Lines decoded and appended to Stream; each line that does not
  // end in a soft break ends in CR LF (unless its last byte is 26).
  void Decode();

 private:
  TStream& stream_;
  TStringList& lines_;
};

// The longest piece of a paragraph on one encoded line (before escaping).
inline constexpr std::size_t kQPPieceLength = 65;

// The pieces of one paragraph, each escaped, all but the last with "=".
void EncodeParagraph(std::string_view paragraph, TStringList& lines);
// Decodes one line (soft break removed or line end added) onto `out`.
void DecodeQPLine(std::string_view line, std::string& out);

// Decodes one short text ("Q" encoded words) as a one-line Decode would,
// returning the first line of the result.
std::string QPDecodeText(std::string_view text);

}  // namespace quillon
