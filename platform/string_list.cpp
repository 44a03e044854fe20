#include "platform/string_list.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/text.h"

namespace quillon {

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : *this) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  clear();
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    push_back(text.substr(start, i - start));
    ++i;
    if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
    start = i;
  }
  if (start < text.size()) push_back(text.substr(start));
}

void TStringList::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::system_error(errno, std::generic_category(), "opening " + path);
  }
  std::ostringstream content;
  content << in.rdbuf();
  SetText(content.str());
}

void TStringList::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw std::system_error(errno, std::generic_category(), "creating " + path);
  }
  out << Text();
  out.flush();
  if (!out) {
    throw std::system_error(errno, std::generic_category(), "writing " + path);
  }
}

int TStringList::IndexOf(const std::string& line) const {
  for (std::size_t i = 0; i < size(); ++i) {
    if (SameText((*this)[i], line)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace quillon
