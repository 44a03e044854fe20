// Base64 (RFC 2045 alphabet, "=" padding), one line at a time.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Decodes one line of any length. Every four characters give three bytes,
// a final partial group as many whole bytes as its bits hold; each trailing
// "=" removes one byte. Throws ECodecError "Invalid Character" for a
// character outside the alphabet and "=".
std::string Base64DecodeLine(std::string_view text);
// The same, appending to `out` (no temporary string per line).
void Base64DecodeAppend(std::string_view text, std::string& out);

// Encodes bytes (57 per full 76-character line) padded with "=".
std::string Base64EncodeBytes(std::string_view bytes);
void Base64EncodeAppend(std::string_view bytes, std::string& out);

// Bytes per encoded line and the length of a full encoded line.
inline constexpr std::size_t kBase64BytesPerLine = 57;
inline constexpr std::size_t kBase64LineLength = 76;

}  // namespace quillon
