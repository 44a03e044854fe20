// Quoted-printable both ways: decoding arbitrary lines never crashes, and
// text without line breaks comes back from encoding as it went in.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  TStringList lines;
  lines.SetText(bytes);
  TMemoryStream decoded;
  TQuotedPrintable(decoded, lines).Decode();
  (void)QPDecodeText(bytes);

  TMemoryStream source;
  source.Write(bytes);
  TStringList encoded;
  TQuotedPrintable(source, encoded).Encode();
  for (const std::string& line : encoded) {
    if (line.size() > 3 * kQPPieceLength + 1) std::abort();
  }
  if (bytes.find_first_of("\r\n") == std::string::npos) {
    TMemoryStream round_trip;
    TQuotedPrintable(round_trip, encoded).Decode();
    if (round_trip.Data() != bytes + "\r\n") std::abort();
  }
  return 0;
}
