// Small text helpers on 8-bit strings, with the toolkit's semantics.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// Trim* remove characters up to and including the blank (control
// characters too), as the toolkit's Trim does.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// ASCII-only case mapping (the toolkit's UpperCase / LowerCase).
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// Position of `needle` in `text` ignoring ASCII case, or npos.
std::size_t FindNoCase(std::string_view text, std::string_view needle);

// Decimal integer with optional sign and surrounding nothing else (the
// toolkit's StrToInt also takes "$"/"0x" hex); false when not one or out of
// the 32-bit range.
bool TryStrToInt(std::string_view text, int& value);
int StrToIntDef(std::string_view text, int default_value);

// Cuts `text` to at most `capacity` bytes (short-string assignment).
std::string Cut(std::string_view text, std::size_t capacity = 255);

}  // namespace quillon
