// Uuencode lines and "begin" lines: decoding arbitrary text either fails
// with "Invalid Character" or gives at most 63 bytes; 45-byte chunks come
// back from encoding as they went in.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/mail_errors.h"
#include "mail/uuencode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    if (UUDecodeLine(bytes).size() > 63) std::abort();
  } catch (const ECodecError&) {
  }
  if (IsUUBegin(bytes)) (void)UUFileName(bytes);
  for (std::size_t offset = 0; offset < bytes.size(); offset += kUUBytesPerLine) {
    std::string chunk = bytes.substr(offset, kUUBytesPerLine);
    if (UUDecodeLine(UUEncodeBytes(chunk)) != chunk) std::abort();
  }
  return 0;
}
