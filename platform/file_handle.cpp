#include "platform/file_handle.h"

#include <unistd.h>

namespace quillon {

void FileHandle::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace quillon
