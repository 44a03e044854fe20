// The core (mail/, net/, store/, rules/ and the platform layer) builds and
// runs without Qt: none of its files may include a Qt header. Only the
// platform layer's *_qt.* files are Qt's.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool IsQtFile(const fs::path& path) {
  const std::string stem = path.stem().string();
  return stem.size() > 3 && stem.compare(stem.size() - 3, 3, "_qt") == 0;
}

// Lines such as `#include <QString>`, `#include <QtCore/qobject.h>` or
// `# include "QTimer"`.
bool IncludesQt(std::string_view line) {
  auto skip_blanks = [&line] {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      line.remove_prefix(1);
    }
  };
  auto consume = [&line](std::string_view word) {
    if (line.substr(0, word.size()) != word) return false;
    line.remove_prefix(word.size());
    return true;
  };
  skip_blanks();
  if (!consume("#")) return false;
  skip_blanks();
  if (!consume("include")) return false;
  skip_blanks();
  if (!consume("<") && !consume("\"")) return false;
  const std::string_view name = line.substr(0, line.find_first_of(">\""));
  const bool class_header = name.size() >= 2 && name[0] == 'Q' &&
                            std::isupper(static_cast<unsigned char>(name[1])) &&
                            name.find('/') == std::string_view::npos;
  const bool module_header =
      name.substr(0, 2) == "Qt" && name.find('/') != std::string_view::npos;
  return class_header || module_header;
}

std::vector<std::string> QtIncludesIn(const fs::path& folder) {
  std::vector<std::string> found;
  if (!fs::exists(folder)) return found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const auto extension = entry.path().extension();
    if (!entry.is_regular_file() ||
        (extension != ".h" && extension != ".cpp")) {
      continue;
    }
    if (folder.filename() == "platform" && IsQtFile(entry.path())) continue;
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (IncludesQt(line)) {
        found.push_back(entry.path().string() + ":" + std::to_string(number) +
                        ": " + line);
      }
    }
  }
  return found;
}

TEST(Layering, RecognisesQtIncludes) {
  EXPECT_TRUE(IncludesQt("#include <QString>"));
  EXPECT_TRUE(IncludesQt("  #  include \"QTimer\""));
  EXPECT_TRUE(IncludesQt("#include <QtCore/qobject.h>"));
  EXPECT_FALSE(IncludesQt("#include <queue>"));
  EXPECT_FALSE(IncludesQt("#include \"platform/qt_pump.h\""));
  EXPECT_FALSE(IncludesQt("// #include <QString> is not allowed here"));
  EXPECT_FALSE(IncludesQt("#include \"quillon/Qx.h\""));
  EXPECT_FALSE(IncludesQt("#include <Quoted.h>"));
}

class CoreFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(CoreFolder, IncludesNoQtHeader) {
  const auto found = QtIncludesIn(fs::path(QUILLON_SOURCE_DIR) / GetParam());
  std::string listing;
  for (const auto& line : found) listing += line + "\n";
  EXPECT_TRUE(found.empty()) << listing;
}

INSTANTIATE_TEST_SUITE_P(Folders, CoreFolder,
                         ::testing::Values("mail", "net", "store", "rules",
                                           "platform"));

}  // namespace
