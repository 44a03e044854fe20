// The retrieved-list and list files of keep and list mode: any bytes split
// into lines that write back and read again unchanged, every text before a
// "|" of a line is a key, nothing else is, and a list entry names either a
// position or none.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/string_list.h"
#include "rules/retrieved_list.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quillon::TStringList lines;
  lines.SetText(text);
  quillon::TStringList again;
  again.SetText(lines.Text());
  Check(again == lines);

  const auto keys = quillon::RetrievedKeys(lines);
  std::size_t bars = 0;
  for (const std::string& line : lines) {
    for (std::size_t bar = line.find('|'); bar != std::string::npos;
         bar = line.find('|', bar + 1)) {
      ++bars;
      Check(keys.count(line.substr(0, bar)) == 1);
    }
    Check(line.find_first_of("\r\n") == std::string::npos);
    const int number = quillon::ListedMessageNumber(line);
    Check(number >= -1);
  }
  Check(keys.size() <= bars);
  return 0;
}
