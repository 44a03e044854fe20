#include "platform/temp_file.h"

#include "platform/fault_injection.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace quillon {

std::string TempDirectory() {
  const char* from_environment = std::getenv("TMPDIR");
  std::string directory = (from_environment != nullptr && *from_environment)
                              ? from_environment
                              : "/tmp";
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  return directory;
}

std::string CreateTempFile(const std::string& prefix) {
  std::string pattern = TempDirectory() + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = FileMakeTemp(buffer.data());
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(),
                            "creating a temporary file in " + TempDirectory());
  }
  if (FileClose(fd) != 0) {
    const int error_code = errno;
    ::unlink(buffer.data());
    throw std::system_error(error_code, std::generic_category(),
                            "creating a temporary file in " + TempDirectory());
  }
  return std::string(buffer.data());
}

}  // namespace quillon
