// Media type registered for a file-name extension: /etc/mime.types, then
// ~/.mime.types (later entries win), loaded once.
#pragma once

#include <string>

namespace quillon {

// `extension` with or without its leading dot, any case ("txt", ".TXT").
// Empty when the extension is not registered.
std::string MediaTypeOfExtension(const std::string& extension);

// For tests: read the table from these files instead (in order).
void LoadMediaTypeTables(const std::string& first, const std::string& second);

}  // namespace quillon
