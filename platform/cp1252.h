// Windows-1252 (the suite's 8-bit code page) to and from UTF-8, for display
// and for tools that print JSON.
#pragma once

#include <string>

namespace quillon {

std::string Cp1252ToUtf8(const std::string& bytes);

// Characters that Windows-1252 cannot hold become "?".
std::string Utf8ToCp1252(const std::string& text);

// Upper-casing of one Windows-1252 byte as the ANSI upper-case function does
// it (letters of the code page, including the accented ones).
unsigned char AnsiUpperChar(unsigned char c);
std::string AnsiUpperCase(std::string text);

}  // namespace quillon
