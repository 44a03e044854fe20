// The framing of server replies: reply lines (ReceiveBuffer::TakeLine with
// its length bound, StripLineEnd, the reply codes) and the end of a data
// block (DataEndDetector), each fed in pieces split where the input says,
// must give what the whole input gives; dot-stuffed text must come back
// whole through the end detection and UnstuffDataBlock. A broken property
// traps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/dot_stuffing.h"
#include "net/receive_buffer.h"

namespace {

using quillon::DataEndDetector;
using quillon::ReceiveBuffer;

constexpr std::size_t kLineLimit = 64;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The input cut into pieces whose sizes come from `sizes` in turn.
std::vector<std::string_view> Pieces(std::string_view input, std::string_view sizes) {
  std::vector<std::string_view> pieces;
  std::size_t turn = 0;
  while (!input.empty()) {
    std::size_t size = sizes.empty() ? input.size()
                                     : static_cast<unsigned char>(sizes[turn++ % sizes.size()]) % 17 + 1;
    size = std::min(size, input.size());
    pieces.push_back(input.substr(0, size));
    input.remove_prefix(size);
  }
  return pieces;
}

// Lines as TakeLine hands them out (bounded), fed piece by piece.
std::vector<std::string> Lines(const std::vector<std::string_view>& pieces) {
  ReceiveBuffer buffer;
  std::vector<std::string> lines;
  std::string line;
  for (std::string_view piece : pieces) {
    buffer.Append(piece);
    while (!buffer.Empty()) {
      const bool complete = buffer.TakeLine(line, kLineLimit);
      Check(line.size() <= kLineLimit);
      if (complete || line.size() == kLineLimit) {
        Check(!complete || line.back() == '\n');
        lines.push_back(line);
        line.clear();
      }
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void CheckLine(const std::string& line) {
  const std::string reply = quillon::StripLineEnd(line);
  Check(reply.empty() || (reply.back() != '\r' && reply.back() != '\n'));
  const int code = quillon::ThreeDigitReplyCode(reply);
  Check(code == -1 || (code >= -99 && code <= 999));
}

std::size_t DataEnd(const std::vector<std::string_view>& pieces) {
  DataEndDetector detector;
  std::size_t taken = 0;
  for (std::string_view piece : pieces) {
    const std::size_t used = detector.Feed(piece);
    Check(used <= piece.size());
    taken += used;
    if (detector.Complete()) return taken;
    Check(used == piece.size());
  }
  return std::string_view::npos;
}

void CheckStuffingRoundTrip(std::string_view text) {
  bool at_line_start = true;
  std::string block = quillon::DotStuff(text, at_line_start);
  const bool ends_line = block.ends_with("\r\n");
  if (!ends_line) block += "\r\n";
  block += ".\r\n";
  DataEndDetector detector;
  Check(detector.Feed(block) == block.size() && detector.Complete());
  const std::string expected = std::string(text) + (ends_line ? "" : "\r\n");
  Check(quillon::UnstuffDataBlock(block) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  // The first bytes choose the split points; the rest is the server's data.
  const std::size_t split_bytes = std::min<std::size_t>(all.size(), 4);
  const std::string_view sizes = all.substr(0, split_bytes);
  const std::string_view input = all.substr(split_bytes);

  const auto whole = Lines({input});
  Check(whole == Lines(Pieces(input, sizes)));
  for (const std::string& line : whole) CheckLine(line);

  Check(DataEnd({input}) == DataEnd(Pieces(input, sizes)));
  CheckStuffingRoundTrip(input);
  return 0;
}
