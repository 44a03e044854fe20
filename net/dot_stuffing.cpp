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

std::string UnstuffDataBlock(std::string_view block) {
  if (block == ".\r\n") return {};
  if (block.ends_with("\r\n.\r\n")) block.remove_suffix(3);
  std::string text;
  text.reserve(block.size());
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    end = end == std::string_view::npos ? block.size() : end + 1;
    if (block[start] == '.') ++start;
    text.append(block.substr(start, end - start));
    start = end;
  }
  return text;
}

}  // namespace quillon
