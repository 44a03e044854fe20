#include "mail/temp_file_stream.h"

#include <unistd.h>

#include "platform/temp_file.h"

namespace quillon {

TTempFileStream::TTempFileStream()
    : TFileStream(CreateTempFile("ms"), TFileStream::Mode::kOpenReadWrite) {}

TTempFileStream::~TTempFileStream() {
  // The descriptor stays valid after unlink until the base closes it; a
  // file that cannot be deleted is left behind silently.
  ::unlink(FileName().c_str());
}

}  // namespace quillon
