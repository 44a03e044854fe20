// Base64 lines: decoding arbitrary text either fails with "Invalid
// Character" or gives bytes; encoding then decoding gives the bytes back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/base64.h"
#include "mail/mail_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  try {
    std::string decoded = Base64DecodeLine(bytes);
    if (decoded.size() > bytes.size()) std::abort();
  } catch (const ECodecError&) {
  }
  std::string encoded = Base64EncodeBytes(bytes);
  if (encoded.size() % 4 != 0 || Base64DecodeLine(encoded) != bytes) std::abort();
  return 0;
}
