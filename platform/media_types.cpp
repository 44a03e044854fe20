#include "platform/media_types.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/text.h"

namespace quillon {

namespace {

using MediaTypeTable = std::map<std::string, std::string>;

// Reads "type ext ext ..." lines. Within the system table the first
// mention of an extension wins; a later table (the user's) overrides.
void ReadTable(const std::string& path, bool override_existing,
               MediaTypeTable& table) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string type;
    if (!(words >> type)) continue;
    std::string extension;
    while (words >> extension) {
      extension = LowerCase(extension);
      if (override_existing) {
        table[extension] = type;
      } else {
        table.emplace(extension, type);
      }
    }
  }
}

MediaTypeTable& Table() {
  static MediaTypeTable table;
  return table;
}

std::once_flag& DefaultTablesLoaded() {
  static std::once_flag flag;
  return flag;
}

void LoadTables(const std::string& first, const std::string& second) {
  MediaTypeTable table;
  ReadTable(first, false, table);
  if (!second.empty()) ReadTable(second, true, table);
  Table() = std::move(table);
}

void LoadDefaultTables() {
  const char* home = std::getenv("HOME");
  LoadTables("/etc/mime.types",
             home != nullptr ? std::string(home) + "/.mime.types" : "");
}

}  // namespace

std::string MediaTypeOfExtension(const std::string& extension) {
  std::call_once(DefaultTablesLoaded(), LoadDefaultTables);
  std::string key = LowerCase(extension);
  if (!key.empty() && key.front() == '.') key.erase(0, 1);
  if (key.empty()) return "";
  const auto found = Table().find(key);
  return found == Table().end() ? "" : found->second;
}

void LoadMediaTypeTables(const std::string& first, const std::string& second) {
  std::call_once(DefaultTablesLoaded(), [] {});
  LoadTables(first, second);
}

}  // namespace quillon
