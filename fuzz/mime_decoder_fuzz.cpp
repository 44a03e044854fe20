// The message decoder on arbitrary bytes: it never crashes, never lets a
// decoding error out, keeps undecodable input whole as "original.eml", and
// what it produced can be encoded and decoded again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string raw(reinterpret_cast<const char*>(data), size);
  TmsMessage message;
  message.Clear();
  TMemoryStream input;
  input.Write(raw);
  message.LoadFromStream(input);
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    const TmsAttItem& item = message.Attachments().Items(i);
    if (item.FileName() == "original.eml" && item.Data().Data() != raw) std::abort();
  }
  (void)message.ContentType();
  TMemoryStream encoded;
  message.SaveToStream(encoded);
  TmsMessage again;
  again.Clear();
  again.LoadFromStream(encoded);
  return 0;
}
