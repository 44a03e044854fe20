// Byte streams in the shape the mail components expect: a position, a size,
// reads and writes that move the position.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace quillon {

class TStream {
 public:
  enum class Origin { kBeginning, kCurrent, kEnd };

  virtual ~TStream() = default;
  // Returns the number of bytes read (less than `count` at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes all `count` bytes or throws.
  virtual void Write(const void* buffer, std::size_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, Origin origin) = 0;
  virtual std::int64_t Size() const = 0;
  virtual void SetSize(std::int64_t size) = 0;

  std::int64_t Position() { return Seek(0, Origin::kCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, Origin::kBeginning); }
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  // Copies `count` bytes from `source`'s position (all of it from 0 when
  // `count` is 0, as CopyFrom does). Returns the bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
  // The whole content as a string (position unchanged).
  std::string ReadAll();
  // A second stream over the same bytes with a position of its own, when
  // one can be had without copying them (a file can); null otherwise.
  virtual std::unique_ptr<TStream> OpenReader() const { return nullptr; }
};

class TMemoryStream : public TStream {
 public:
  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  using TStream::Write;
  std::int64_t Seek(std::int64_t offset, Origin origin) override;
  std::int64_t Size() const override {
    return static_cast<std::int64_t>(data_.size());
  }
  void SetSize(std::int64_t size) override;

  void Clear();
  // Room for `size` bytes in all, so that writes up to it do not move the
  // data; the room is not touched until written.
  void Reserve(std::int64_t size);
  const std::string& Data() const { return data_; }
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;

 private:
  std::string data_;
  std::size_t position_ = 0;
};

class TFileStream : public TStream {
 public:
  // kCreateNew fails with EEXIST when the name is taken, also by a link,
  // so nothing that is already there is written through or replaced.
  enum class Mode { kCreate, kCreateNew, kOpenRead, kOpenReadWrite };
  // Throws std::system_error carrying errno when the file cannot be opened.
  TFileStream(const std::string& path, Mode mode);
  // Takes over a descriptor already open on `path`.
  TFileStream(std::string path, FileHandle file);

  std::size_t Read(void* buffer, std::size_t count) override;
  void Write(const void* buffer, std::size_t count) override;
  using TStream::Write;
  std::int64_t Seek(std::int64_t offset, Origin origin) override;
  std::int64_t Size() const override;
  void SetSize(std::int64_t size) override;

  const std::string& FileName() const { return path_; }
  // Closes the file now; a failure the system reports only at the close
  // throws std::system_error. Nothing may be done with the stream after.
  void Close();
  // Opens the file again for reading (also when it has been renamed or
  // deleted since); null when the system cannot.
  std::unique_ptr<TStream> OpenReader() const override;

 private:
  std::string path_;
  FileHandle file_;
};

}  // namespace quillon
