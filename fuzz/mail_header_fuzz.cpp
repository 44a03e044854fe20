// Header functions on arbitrary header blocks: field lookup, address lists,
// addresses, dates and encoded words never crash and keep their limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/header_values.h"
#include "mail/header_words.h"
#include "mail/headers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string text(reinterpret_cast<const char*>(data), size);
  TmsHeaders headers;
  headers.SetText(text);
  for (const char* name : {"Subject", "From:", "Content-Type", "X-UIDL", "Date"}) {
    std::string value = headers.GetFieldValue(name);
    if (std::string(name) != "Content-Type" && std::string(name) != "X-UIDL" &&
        value.size() > 255) {
      std::abort();
    }
  }
  TStringList entries;
  headers.GetFieldValues("To:", entries);
  for (const std::string& entry : entries) {
    TmsMailAddress address;
    ParseAddress(entry, address);
    if (address.Name().size() > 255 || address.Address().size() > 255) std::abort();
  }
  TDateTime date = 0;
  std::string rest;
  ParseMailDate(text, date, rest);
  if (DecodeHeaderWords(text).size() > 255) std::abort();
  (void)GetParamValue("boundary", text);
  (void)GetMediaType(text);
  headers.DeleteField("Received");
  headers.TruncateAtBlankLine();
  return 0;
}
