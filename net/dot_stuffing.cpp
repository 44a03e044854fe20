#include "net/dot_stuffing.h"

#include <array>

namespace quillon {

std::string DotStuff(std::string_view chunk, bool& at_line_start) {
  std::string out;
  out.reserve(chunk.size() + chunk.size() / 64 + 1);
  for (const char c : chunk) {
    if (at_line_start && c == '.') out += '.';
    out += c;
    // Servers end lines at LF, so a dot after a bare LF starts a line too.
    at_line_start = c == '\n';
  }
  return out;
}

void DotStuffStream(TStream& source, TStream& target) {
  source.SetPosition(0);
  std::array<char, 65536> piece;
  bool at_line_start = true;
  while (true) {
    const std::size_t count = source.Read(piece.data(), piece.size());
    if (count == 0) break;
    target.Write(DotStuff(std::string_view(piece.data(), count), at_line_start));
  }
}

}  // namespace quillon
