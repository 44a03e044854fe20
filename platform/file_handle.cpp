#include "platform/file_handle.h"

#include <unistd.h>

#include "platform/fault_injection.h"

namespace quillon {

void FileHandle::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int FileHandle::Close() {
  if (fd_ < 0) return 0;
  return FileClose(std::exchange(fd_, -1));
}

}  // namespace quillon
