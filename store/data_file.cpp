#include "store/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "store/record_file.h"

namespace quillon {

std::string PrepareDataFile(const std::string& file_name,
                            std::size_t record_size) {
  std::string path = DataFilePath(file_name);
  const RecordFile created_when_missing(path, record_size,
                                       ZeroHeader(record_size));
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
