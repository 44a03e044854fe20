// What a printed PDF says, read with poppler's pdftotext: the text of each
// page as laid out, and the words with their boxes.
#pragma once

#include <string>
#include <vector>

namespace quillon::test {

// True when pdftotext can be run.
bool PdfToolsAvailable();

// The pages' texts in drawing order (pdftotext -raw); empty when the file
// cannot be read.
std::vector<std::string> PdfPages(const std::string& path);

struct PdfWord {
  int page = 0;  // from 1
  double x_min = 0;
  double y_min = 0;
  double x_max = 0;
  double y_max = 0;
  std::string text;
};

// Every word with its box in points (pdftotext -bbox).
std::vector<PdfWord> PdfWords(const std::string& path);

// The first word equal to `text`; throws std::runtime_error when missing.
const PdfWord& FindWord(const std::vector<PdfWord>& words,
                        const std::string& text);

// The line of `page` that contains `text`, or "" when none does.
std::string LineWith(const std::string& page, const std::string& text);

}  // namespace quillon::test
