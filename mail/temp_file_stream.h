// A file stream on a new temporary file "ms*", deleted when the stream goes.
#pragma once

#include <string>

#include "platform/streams.h"

namespace quillon {

class TTempFileStream : public TFileStream {
 public:
  // Throws std::system_error when no temporary file can be made.
  TTempFileStream();
  ~TTempFileStream() override;
  TTempFileStream(const TTempFileStream&) = delete;
  TTempFileStream& operator=(const TTempFileStream&) = delete;

  const std::string& FileName() const { return TFileStream::FileName(); }
};

}  // namespace quillon
