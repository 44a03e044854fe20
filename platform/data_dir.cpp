#include "platform/data_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/text.h"

namespace quillon {

namespace {

std::string WithTrailingSlash(std::string directory) {
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

std::optional<std::string>& ChosenDataDirectory() {
  static std::optional<std::string> directory;
  return directory;
}

}  // namespace

std::string ExecutableDirectory() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "./";
  return WithTrailingSlash(executable.parent_path().string());
}

const std::string& DataDirectory() {
  auto& directory = ChosenDataDirectory();
  if (!directory) {
    const char* from_environment = std::getenv("QUILLON_DATA_DIR");
    if (from_environment != nullptr && *from_environment != '\0') {
      directory = WithTrailingSlash(from_environment);
    } else {
      directory = ExecutableDirectory();
    }
  }
  return *directory;
}

void SetDataDirectory(const std::string& directory) {
  ChosenDataDirectory() = WithTrailingSlash(directory);
}

int StartShowState() {
  const char* value = std::getenv("QUILLON_SHOW_STATE");
  if (value == nullptr) return kShowStateNormal;
  int state = 0;
  return TryStrToInt(Trim(value), state) ? state : kShowStateNormal;
}

}  // namespace quillon
