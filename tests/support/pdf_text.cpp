#include "tests/support/pdf_text.h"

#include <sstream>
#include <stdexcept>

#include "tests/support/tool_run.h"

namespace quillon::test {
namespace {

std::string Quoted(const std::string& path) {
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The value of attribute `name` in a tag such as <word xMin="1.0" ...>.
double Attribute(const std::string& tag, const std::string& name) {
  const std::string key = name + "=\"";
  const std::size_t at = tag.find(key);
  if (at == std::string::npos) return 0;
  return std::stod(tag.substr(at + key.size()));
}

std::string Unescaped(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"},
      {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities) {
    for (std::size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1)) {
      text.replace(at, std::string(entity).size(), plain);
    }
  }
  return text;
}

}  // namespace

bool PdfToolsAvailable() {
  return RunShell("command -v pdftotext").exit_code == 0;
}

std::vector<std::string> PdfPages(const std::string& path) {
  const ToolRun run = RunShell("pdftotext -raw " + Quoted(path) + " -");
  std::vector<std::string> pages;
  if (run.exit_code != 0) return pages;
  std::size_t start = 0;
  for (std::size_t feed = run.output.find('\f'); feed != std::string::npos;
       feed = run.output.find('\f', start)) {
    pages.push_back(run.output.substr(start, feed - start));
    start = feed + 1;
  }
  return pages;
}

std::vector<PdfWord> PdfWords(const std::string& path) {
  const ToolRun run = RunShell("pdftotext -bbox " + Quoted(path) + " -");
  std::vector<PdfWord> words;
  std::istringstream lines(run.output);
  std::string line;
  int page = 0;
  while (std::getline(lines, line)) {
    if (line.find("<page ") != std::string::npos) ++page;
    const std::size_t open = line.find("<word ");
    if (open == std::string::npos) continue;
    const std::size_t close = line.find('>', open);
    const std::size_t end = line.find("</word>", close);
    if (close == std::string::npos || end == std::string::npos) continue;
    const std::string tag = line.substr(open, close - open);
    words.push_back({page, Attribute(tag, "xMin"), Attribute(tag, "yMin"),
                     Attribute(tag, "xMax"), Attribute(tag, "yMax"),
                     Unescaped(line.substr(close + 1, end - close - 1))});
  }
  return words;
}

const PdfWord& FindWord(const std::vector<PdfWord>& words,
                        const std::string& text) {
  for (const PdfWord& word : words) {
    if (word.text == text) return word;
  }
  throw std::runtime_error("no word \"" + text + "\" in the PDF");
}

std::string LineWith(const std::string& page, const std::string& text) {
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(text) != std::string::npos) return line;
  }
  return {};
}

}  // namespace quillon::test
