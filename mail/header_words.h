// RFC 2047 encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") in
// header values. The character set is not converted: text stays 8-bit.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Decodes the encoded words of a header value (cut to 255 characters).
// Blanks between two adjacent encoded words disappear; other text is kept
// as it stands, and so is anything that looks like an encoded word but does
// not decode (no closing "?=", an unknown letter, invalid base64).
std::string DecodeHeaderWords(std::string_view value);

}  // namespace quillon
