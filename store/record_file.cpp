#include "store/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/data_dir.h"
#include "platform/fault_injection.h"

namespace quillon {

namespace {

// Writes all of `bytes` at `offset`, retrying short writes.
void WriteAllAt(int fd, const std::string& bytes, off_t offset,
                const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = FileWriteAt(fd, bytes.data() + done, bytes.size() - done,
                                  offset + static_cast<off_t>(done));
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

// The header is written into a temporary file that is then linked into
// place, so another process never sees the new file without its header.
void CreateWithHeader(const std::string& path, const std::string& header) {
  std::string pattern = path + ".newXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FileHandle temporary(FileMakeTemp(name.data()));
  if (!temporary.IsOpen()) ThrowInOutError(errno, "creating", path);
  TemporaryName remove_afterwards(name.data());
  // mkstemp makes the file private; give it the mode open() would have.
  ::fchmod(temporary.Get(), 0666 & ~CurrentUmask());
  WriteAllAt(temporary.Get(), header, 0, path);
  if (temporary.Close() != 0) ThrowInOutError(errno, "creating", path);
  // link() fails when the name exists: then another process was first and
  // its file, header included, is the one to use.
  if (FileLink(name.data(), path.c_str()) != 0 && errno != EEXIST) {
    ThrowInOutError(errno, "creating", path);
  }
}

}  // namespace

void ThrowInOutError(int error_code, const std::string& action,
                     const std::string& path) {
  const char* reason = error_code == kReadBeyondEndOfFile
                           ? "Read beyond end of file"
                           : std::strerror(error_code);
  throw EInOutError(error_code, "I/O error " + std::to_string(error_code) +
                                    " " + action + " " + path + ": " + reason);
}

void ThrowDamagedHeader(const std::string& action, const std::string& path,
                        const std::string& detail) {
  throw EInOutError(kDamagedHeader,
                    "I/O error " + std::to_string(kDamagedHeader) + " " +
                        action + " " + path + ": Damaged header record: " +
                        detail);
}

EInOutError::EInOutError(int error_code, const std::string& what)
    : std::runtime_error(what), error_code_(error_code) {}

RecordFile::RecordFile(const std::string& path, std::size_t record_size,
                       const std::string& header_when_created)
    : path_(path), record_size_(record_size) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno != ENOENT) ThrowInOutError(errno, "opening", path);
    CreateWithHeader(path, header_when_created);
  }
  file_.Reset(FileOpen(path.c_str(), O_RDWR));
  if (!file_.IsOpen()) ThrowInOutError(errno, "opening", path);
}

std::size_t RecordFile::RecordCount() const {
  struct stat status {};
  if (::fstat(file_.Get(), &status) != 0) ThrowInOutError(errno, "reading", path_);
  return static_cast<std::size_t>(status.st_size) / record_size_;
}

bool RecordFile::ReadRecord(std::size_t index, std::string& record) const {
  record.assign(record_size_, '\0');
  std::size_t done = 0;
  const auto offset = static_cast<off_t>(index * record_size_);
  while (done < record_size_) {
    ssize_t got = ::pread(file_.Get(), record.data() + done,
                          record_size_ - done,
                          offset + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno, "reading", path_);
    }
    if (got == 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::string RecordFile::ReadRequiredRecord(std::size_t index) const {
  std::string record;
  if (!ReadRecord(index, record)) {
    ThrowInOutError(kReadBeyondEndOfFile, "reading a record of", path_);
  }
  return record;
}

void RecordFile::WriteRecord(std::size_t index, const std::string& record) {
  if (record.size() != record_size_) {
    throw std::invalid_argument("record of " + std::to_string(record.size()) +
                                " bytes written to a file of " +
                                std::to_string(record_size_) + "-byte records");
  }
  WriteAllAt(file_.Get(), record, static_cast<off_t>(index * record_size_),
             path_);
}

void RecordFile::Close() {
  if (file_.Close() != 0) ThrowInOutError(errno, "closing", path_);
}

std::string DataFilePath(const std::string& file_name) {
  return DataDirectory() + file_name;
}

}  // namespace quillon
