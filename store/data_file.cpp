#include "store/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "store/record_file.h"

namespace quillon {

namespace {

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno, "writing", path);
    }
    done += static_cast<std::size_t>(written);
  }
}

// Removes the temporary file when the creation is over, whatever happened.
class TemporaryName {
 public:
  explicit TemporaryName(std::string path) : path_(std::move(path)) {}
  ~TemporaryName() { ::unlink(path_.c_str()); }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;

 private:
  std::string path_;
};

mode_t CurrentUmask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void CreateWithHeader(const std::string& path, std::size_t record_size) {
  std::string pattern = path + ".newXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FileHandle temporary(::mkstemp(name.data()));
  if (!temporary.IsOpen()) ThrowInOutError(errno, "creating", path);
  TemporaryName remove_afterwards(name.data());
  // mkstemp makes the file private; give it the mode open() would have.
  ::fchmod(temporary.Get(), 0666 & ~CurrentUmask());
  WriteAll(temporary.Get(), ZeroHeader(record_size), path);
  // link() fails when the name exists: then another process was first and
  // its file, header included, is the one to use.
  if (::link(name.data(), path.c_str()) != 0 && errno != EEXIST) {
    ThrowInOutError(errno, "creating", path);
  }
}

}  // namespace

void ThrowInOutError(int error_code, const std::string& action,
                     const std::string& path) {
  throw EInOutError(error_code, "I/O error " + std::to_string(error_code) +
                                    " " + action + " " + path + ": " +
                                    std::strerror(error_code));
}

std::string PrepareDataFile(const std::string& file_name,
                            std::size_t record_size) {
  std::string path = DataFilePath(file_name);
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return path;
  if (errno != ENOENT) ThrowInOutError(errno, "opening", path);
  CreateWithHeader(path, record_size);
  return path;
}

HeaderWriteLock::HeaderWriteLock(const std::string& path,
                                 std::size_t record_size)
    : file_(::open(path.c_str(), O_RDWR)) {
  if (!file_.IsOpen()) ThrowInOutError(errno, "opening", path);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = static_cast<off_t>(record_size);
  while (::fcntl(file_.Get(), F_OFD_SETLKW, &lock) != 0) {
    if (errno != EINTR) ThrowInOutError(errno, "locking", path);
  }
}

}  // namespace quillon
