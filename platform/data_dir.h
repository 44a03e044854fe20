// Where the program's data lives and how it was started.
#pragma once

#include <string>

namespace quillon {

// The data directory with a trailing "/": $QUILLON_DATA_DIR when set and not
// empty, else the directory of the running executable. Determined once.
const std::string& DataDirectory();

// For tests and tools: use `directory` from now on (a "/" is added).
void SetDataDirectory(const std::string& directory);

// The directory of the running executable, with a trailing "/".
std::string ExecutableDirectory();

// The Windows show-state number the program was started with:
// $QUILLON_SHOW_STATE (decimal), 1 (normal) when unset or not a number.
int StartShowState();

// Show states that show the status window at start.
constexpr int kShowStateNormal = 1;
constexpr int kShowStateShow = 5;
constexpr int kShowStateMinimizedNoActivate = 7;

}  // namespace quillon
