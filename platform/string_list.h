// An ordered list of 8-bit strings with whole-text access.
#pragma once

#include <string>
#include <vector>

namespace quillon {

class TStringList : public std::vector<std::string> {
 public:
  using std::vector<std::string>::vector;

  // Lines joined, each followed by CR LF.
  std::string Text() const;
  // Replaces the lines by `text` split at CR LF, CR or LF; a last line
  // without a line end counts, a final line end adds no empty line.
  void SetText(const std::string& text);
  void LoadFromFile(const std::string& path);
  // Writes the text into a new file beside `path` and renames it into
  // place: a failure leaves the old file whole. Throws std::system_error.
  void SaveToFile(const std::string& path) const;
  // Index of the first line equal to `line` (case-insensitive), or -1.
  int IndexOf(const std::string& line) const;
};

}  // namespace quillon
