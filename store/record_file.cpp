#include "store/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/data_dir.h"

namespace quillon {

namespace {

[[noreturn]] void ThrowInOut(int error_code, const std::string& path,
                             const char* action) {
  const char* reason = error_code == kReadBeyondEndOfFile
                           ? "Read beyond end of file"
                           : std::strerror(error_code);
  throw EInOutError(error_code, std::string("I/O error ") +
                                    std::to_string(error_code) + " " + action +
                                    " " + path + ": " + reason);
}

// Writes all of `bytes` at `offset`, retrying short writes.
void WriteAllAt(int fd, const std::string& bytes, off_t offset,
                const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               offset + static_cast<off_t>(done));
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowInOut(errno, path, "writing");
    }
    done += static_cast<std::size_t>(written);
  }
}

void CreateWithHeader(const std::string& path, const std::string& header) {
  FileHandle created(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
  if (!created.IsOpen()) {
    // Someone else created it in between: use theirs.
    if (errno == EEXIST) return;
    ThrowInOut(errno, path, "creating");
  }
  WriteAllAt(created.Get(), header, 0, path);
}

}  // namespace

EInOutError::EInOutError(int error_code, const std::string& what)
    : std::runtime_error(what), error_code_(error_code) {}

RecordFile::RecordFile(const std::string& path, std::size_t record_size,
                       const std::string& header_when_created)
    : path_(path), record_size_(record_size) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno != ENOENT) ThrowInOut(errno, path, "opening");
    CreateWithHeader(path, header_when_created);
  }
  file_.Reset(::open(path.c_str(), O_RDWR));
  if (!file_.IsOpen()) ThrowInOut(errno, path, "opening");
}

std::size_t RecordFile::RecordCount() const {
  struct stat status {};
  if (::fstat(file_.Get(), &status) != 0) ThrowInOut(errno, path_, "reading");
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
      ThrowInOut(errno, path_, "reading");
    }
    if (got == 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::string RecordFile::ReadRequiredRecord(std::size_t index) const {
  std::string record;
  if (!ReadRecord(index, record)) {
    ThrowInOut(kReadBeyondEndOfFile, path_, "reading a record beyond the end of");
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

std::string DataFilePath(const std::string& file_name) {
  return DataDirectory() + file_name;
}

}  // namespace quillon
