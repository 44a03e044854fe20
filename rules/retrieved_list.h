// The two line files of keep and list mode: the retrieved-list file (one
// line per stored message, its keys before each "|") and the list file
// (one message position per line).
#pragma once

#include <string>
#include <unordered_set>

#include "platform/string_list.h"

namespace quillon {

// The keys the retrieved-list lines answer for: every text before a "|" of
// a line, so a key that itself holds "|" is found too.
std::unordered_set<std::string> RetrievedKeys(const TStringList& lines);

// The message position a list-file entry names (blanks around it allowed),
// -1 when the entry names none.
int ListedMessageNumber(const std::string& entry);

}  // namespace quillon
