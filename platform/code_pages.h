// Code-page conversions of the suite's 8-bit strings.
#pragma once

#include <string>

namespace quillon {

// Windows-1252 (the word table, the data files) to and from UTF-8, for
// display. Characters that Windows-1252 cannot hold become "?".
std::string Cp1252ToUtf8(const std::string& bytes);
std::string Utf8ToCp1252(const std::string& text);

// Each byte as the code point of the same value (Latin-1), so nothing is
// lost: how the tools write 8-bit strings into JSON. The reverse maps code
// points above 255 to "?".
std::string Latin1ToUtf8(const std::string& bytes);
std::string Utf8ToLatin1(const std::string& text);

// Upper-casing in the Windows-1252 code page as the ANSI upper-case function
// does it (ASCII letters and the accented letters of the code page).
unsigned char AnsiUpperChar(unsigned char c);
std::string AnsiUpperCase(std::string text);

}  // namespace quillon
