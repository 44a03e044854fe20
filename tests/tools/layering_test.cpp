// The core (mail/, net/, store/, rules/ and the platform layer) builds and
// runs without Qt: none of its files may include a Qt header. Only the
// platform layer's *_qt.* files are Qt's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool IsQtFile(const fs::path& path) {
  const std::string stem = path.stem().string();
  return stem.size() > 3 && stem.compare(stem.size() - 3, 3, "_qt") == 0;
}

// Lines such as `#include <QString>`, `#include <QtCore/qobject.h>` or
// `# include "QTimer"`.
bool IncludesQt(const std::string& line) {
  static const std::regex kQtInclude(
      R"(^\s*#\s*include\s*[<"](Q[A-Z][A-Za-z]*|Qt[A-Za-z]*/[^>"]*)[>"])");
  return std::regex_search(line, kQtInclude);
}

std::vector<std::string> QtIncludesIn(const fs::path& folder) {
  std::vector<std::string> found;
  if (!fs::exists(folder)) return found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const auto extension = entry.path().extension();
    if (!entry.is_regular_file() || (extension != ".h" && extension != ".cpp")) {
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
