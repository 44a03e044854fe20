// Uuencode lines (the value 0 written as the grave accent, 1 to 63 as the
// characters 33 to 95) and the "begin" line of a uuencoded file.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Decodes one line of any length: the first character is the byte count,
// then groups of four characters give three bytes. Throws ECodecError
// "Invalid Character" for characters other than blank, grave accent and 33
// to 95.
std::string UUDecodeLine(std::string_view text);
void UUDecodeAppend(std::string_view text, std::string& out);

// Encodes at most 45 bytes into one line (count character, no padding).
std::string UUEncodeBytes(std::string_view bytes);

// "begin 644 name": the word, then a number in the next three characters.
bool IsUUBegin(std::string_view line);
// The file name of a "begin" line, quoted or up to the first blank.
std::string UUFileName(std::string_view line);

inline constexpr std::size_t kUUBytesPerLine = 45;

}  // namespace quillon
