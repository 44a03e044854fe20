// A data file of fixed-size records shared with the main application:
// opened for one operation with read and write sharing, created with its
// header record when missing, closed again when the object goes away
// (also when the operation fails).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "platform/file_handle.h"

namespace quillon {

// An input/output failure on a data file, carrying the system's error code
// (errno). Code 100 ("read beyond end of file") marks a short read of a
// record the caller required.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(int error_code, const std::string& what);
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

constexpr int kReadBeyondEndOfFile = 100;
// A header record whose counters do not fit the file (see AppendPosition).
constexpr int kDamagedHeader = 1000;

// Raises EInOutError for the system error `error_code` while doing
// `action` ("opening", "writing", ...) on `path`.
[[noreturn]] void ThrowInOutError(int error_code, const std::string& action,
                                  const std::string& path);
// Raises EInOutError (kDamagedHeader) for the header record of `path`
// while doing `action`; `detail` says which counter does not fit.
[[noreturn]] void ThrowDamagedHeader(const std::string& action,
                                     const std::string& path,
                                     const std::string& detail);

class RecordFile {
 public:
  // Opens `path` for reading and writing. When the file does not exist it
  // is first created holding `header_when_created` (which should be one
  // record long); another process never sees it without that header.
  // Throws EInOutError.
  RecordFile(const std::string& path, std::size_t record_size,
             const std::string& header_when_created);
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  const std::string& Path() const { return path_; }
  std::size_t RecordSize() const { return record_size_; }
  // Whole records in the file, the header record included; trailing bytes
  // that do not make a whole record do not count.
  std::size_t RecordCount() const;

  // Reads record `index`. False when the file ends before a whole record;
  // other failures throw EInOutError.
  bool ReadRecord(std::size_t index, std::string& record) const;
  // Like ReadRecord, but a missing record throws EInOutError (code 100).
  std::string ReadRequiredRecord(std::size_t index) const;
  // Writes record `index` (its size must be the record size); a position
  // beyond the end grows the file with zero bytes in between.
  void WriteRecord(std::size_t index, const std::string& record);

  // Closes the file at the end of a writing operation, so that a failure
  // the system reports only at the close still fails the operation.
  // Nothing may be done with the object after.
  void Close();

  // A zero-filled record of this file's size.
  std::string BlankRecord() const { return std::string(record_size_, '\0'); }

 private:
  std::string path_;
  std::size_t record_size_;
  FileHandle file_;
};

// Data directory + `file_name` (the store's way to name its files).
std::string DataFilePath(const std::string& file_name);

}  // namespace quillon
