// Recipients-file text and the field splitting on its lines: any bytes must
// summarise without reading outside the input, and the fields must agree
// with the field count.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/recipients_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quillon::RecipientsSummary summary = quillon::SummarizeRecipientsText(text);
  (void)summary;

  // The first byte chooses a separator for a second pass over the rest.
  const char separator = size > 0 ? text[0] : quillon::kRecipientSeparator;
  const std::string_view line = size > 0 ? text.substr(1) : text;
  for (char sep : {quillon::kRecipientSeparator, separator}) {
    const int count = quillon::FieldCount(line, sep);
    std::size_t joined = 0;
    for (int index = 1; index <= count + 1 && index <= 0xFFFF; ++index) {
      std::string field = quillon::GetField(static_cast<std::uint16_t>(index), line, sep);
      if (index > count && !field.empty()) std::abort();
      joined += field.size();
    }
    // Fields never hold more characters than the line.
    if (joined > line.size()) std::abort();
  }
  return 0;
}
