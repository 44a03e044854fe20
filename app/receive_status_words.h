// The status window's word table: English (language 0) and Icelandic
// (language 1), texts in Windows-1252.
#pragma once

#include "platform/string_list.h"

namespace quillon {

inline constexpr int kReceiveStatusLanguages = 2;

// 25 rows of key, English text, Icelandic text.
const TStringList& ReceiveStatusWords();

}  // namespace quillon
