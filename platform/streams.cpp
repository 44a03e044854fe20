#include "platform/streams.h"

#include "platform/fault_injection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

namespace quillon {

namespace {

[[noreturn]] void ThrowFileError(const std::string& action,
                                 const std::string& path) {
  throw std::system_error(errno, std::generic_category(), action + " " + path);
}

// Filling a large buffer page by page costs one fault per 4 KB page, more
// than the copying itself; where the system allows, its whole 2 MB stretches
// are backed by huge pages instead (one fault each).
void AdviseHugePages(char* buffer, std::size_t size) {
  constexpr std::uintptr_t kHugePage = 2 << 20;
  if (size < 4 * kHugePage) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(buffer) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  char buffer[65536];
  std::int64_t copied = 0;
  while (copied < count) {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(count - copied, sizeof buffer));
    const std::size_t got = source.Read(buffer, wanted);
    if (got == 0) break;
    Write(buffer, got);
    copied += static_cast<std::int64_t>(got);
  }
  return copied;
}

std::string TStream::ReadAll() {
  const std::int64_t saved = Position();
  SetPosition(0);
  std::string bytes(static_cast<std::size_t>(Size()), '\0');
  const std::size_t got = Read(bytes.data(), bytes.size());
  bytes.resize(got);
  SetPosition(saved);
  return bytes;
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (position_ >= data_.size()) return 0;
  const std::size_t got = std::min(count, data_.size() - position_);
  std::memcpy(buffer, data_.data() + position_, got);
  position_ += got;
  return got;
}

void TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return;
  const auto* bytes = static_cast<const char*>(buffer);
  // Writing at the end appends: the new room is not zero-filled first.
  if (position_ < data_.size()) {
    const std::size_t overwritten = std::min(count, data_.size() - position_);
    std::memcpy(data_.data() + position_, bytes, overwritten);
    position_ += overwritten;
    bytes += overwritten;
    count -= overwritten;
  }
  if (count == 0) return;
  if (position_ > data_.size()) data_.resize(position_);  // the gap after a seek
  data_.append(bytes, count);
  position_ += count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, Origin origin) {
  std::int64_t base = 0;
  if (origin == Origin::kCurrent) base = static_cast<std::int64_t>(position_);
  if (origin == Origin::kEnd) base = Size();
  // A position past the end is allowed (a later write fills the gap with
  // zeros); a negative one is clamped to the start.
  position_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
  return static_cast<std::int64_t>(position_);
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  position_ = std::min(position_, data_.size());
}

void TMemoryStream::Reserve(std::int64_t size) {
  if (size <= static_cast<std::int64_t>(data_.capacity())) return;
  data_.reserve(static_cast<std::size_t>(size));
  AdviseHugePages(data_.data(), data_.capacity());
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
  TFileStream file(path, TFileStream::Mode::kOpenRead);
  Clear();
  Reserve(file.Size());
  CopyFrom(file, 0);
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) ThrowFileError("creating", path);
  out.write(data_.data(), static_cast<std::streamsize>(data_.size()));
  out.flush();
  if (!out) ThrowFileError("writing", path);
}

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = O_RDONLY;
  if (mode == Mode::kCreate) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == Mode::kCreateNew) flags = O_RDWR | O_CREAT | O_EXCL;
  if (mode == Mode::kOpenReadWrite) flags = O_RDWR;
  file_.Reset(FileOpen(path.c_str(), flags, 0666));
  if (!file_.IsOpen()) ThrowFileError("opening", path);
}

TFileStream::TFileStream(std::string path, FileHandle file)
    : path_(std::move(path)), file_(std::move(file)) {}

std::unique_ptr<TStream> TFileStream::OpenReader() const {
  // The descriptor's entry in /proc opens the same file, not the same name.
  const std::string link = "/proc/self/fd/" + std::to_string(file_.Get());
  FileHandle reader(::open(link.c_str(), O_RDONLY | O_CLOEXEC));
  if (!reader.IsOpen()) return nullptr;
  return std::make_unique<TFileStream>(path_, std::move(reader));
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  auto* bytes = static_cast<char*>(buffer);
  while (done < count) {
    const ssize_t got = ::read(file_.Get(), bytes + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("reading", path_);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  const auto* bytes = static_cast<const char*>(buffer);
  while (done < count) {
    const ssize_t written = FileWrite(file_.Get(), bytes + done, count - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("writing", path_);
    }
    done += static_cast<std::size_t>(written);
  }
}

std::int64_t TFileStream::Seek(std::int64_t offset, Origin origin) {
  int whence = SEEK_SET;
  if (origin == Origin::kCurrent) whence = SEEK_CUR;
  if (origin == Origin::kEnd) whence = SEEK_END;
  const off_t position = ::lseek(file_.Get(), offset, whence);
  if (position < 0) ThrowFileError("seeking in", path_);
  return position;
}

std::int64_t TFileStream::Size() const {
  struct stat status {};
  if (::fstat(file_.Get(), &status) != 0) ThrowFileError("reading", path_);
  return status.st_size;
}

void TFileStream::Close() {
  if (file_.Close() != 0) ThrowFileError("closing", path_);
}

void TFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(file_.Get(), size) != 0) ThrowFileError("resizing", path_);
}

}  // namespace quillon
