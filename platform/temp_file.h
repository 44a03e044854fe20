// Unique temporary files: mkstemp in $TMPDIR (else /tmp) with a prefix.
#pragma once

#include <string>

namespace quillon {

// Creates a new empty file "<tmpdir>/<prefix>XXXXXX" and returns its path.
// Throws std::system_error when no file can be made.
std::string CreateTempFile(const std::string& prefix = "ms");

// The temporary directory without a trailing "/".
std::string TempDirectory();

}  // namespace quillon
