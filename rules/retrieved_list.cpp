#include "rules/retrieved_list.h"

#include "platform/text.h"

namespace quillon {

std::unordered_set<std::string> RetrievedKeys(const TStringList& lines) {
  std::unordered_set<std::string> keys;
  for (const std::string& line : lines) {
    for (std::size_t bar = line.find('|'); bar != std::string::npos;
         bar = line.find('|', bar + 1)) {
      keys.insert(line.substr(0, bar));
    }
  }
  return keys;
}

int ListedMessageNumber(const std::string& entry) {
  const int number = StrToIntDef(Trim(entry), -1);
  return number < 0 ? -1 : number;
}

}  // namespace quillon
