// Opening the store's shared data files for one operation, and the advisory
// lock that guards a read-increment-write of a file's header record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "store/record_file.h"

namespace quillon {

// Data directory + `file_name`. When the file is missing it is created
// holding one zero-filled record of `record_size` bytes (the header record:
// counts and highest numbers start at 0). The header is written into a
// temporary file that is then linked into place (see RecordFile).
std::string PrepareDataFile(const std::string& file_name,
                            std::size_t record_size);

// n + 1 for a counter read from a file, without signed overflow.
inline std::int32_t NextNumber(std::int32_t n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(n) + 1u);
}

// A zero-filled header record: what a new data file starts with.
inline std::string ZeroHeader(std::size_t record_size) {
  return std::string(record_size, '\0');
}

// Exclusive advisory write lock (fcntl, F_WRLCK) on the bytes of record 0 of
// the file at `path`, waited for and held until destruction. Writers that
// change a header record take it first; a writer that does not lock sees
// the same bytes as ever. The lock belongs to its own open file description
// (F_OFD_SETLKW), so closing other descriptors of the same file in this
// process does not drop it, and two such locks in one process exclude each
// other as locks of two processes do. Throws EInOutError.
class HeaderWriteLock {
 public:
  HeaderWriteLock(const std::string& path, std::size_t record_size);
  HeaderWriteLock(const HeaderWriteLock&) = delete;
  HeaderWriteLock& operator=(const HeaderWriteLock&) = delete;

 private:
  FileHandle file_;
};

// The lookup shared by the accounts and users files: opens (or creates with
// a zero header record) the data file `file_name`, skips record 0 and returns
// the first whole record whose first integer is `id`. False when none
// matches. The file is closed again in every case. Throws EInOutError.
bool LookUpRecordById(const std::string& file_name, std::size_t record_size,
                      std::int32_t id, std::string& record);

// The record number at which an append to `file` writes, for a header
// record that counts `count` data records. The count must fit the file: it
// counts the whole data records there, or all but the last one (an append
// that wrote its record and failed before its header; that record is
// written over). Any other count (negative, counting records that are not
// there, or leaving readable records uncounted) throws EInOutError
// (kDamagedHeader) naming the file: appending where it points would write
// over records or grow the file by a gap.
std::size_t AppendPosition(const RecordFile& file, std::int32_t count);

// Reads data records 1, 2, ... up to the last whole record, calling
// `visit(record_number, record_bytes)` until it returns false. A file
// without its header record throws EInOutError (code 100) naming the file.
template <typename Visit>
void ScanDataRecords(const RecordFile& file, Visit visit) {
  std::string record = file.ReadRequiredRecord(0);
  for (std::size_t number = 1; file.ReadRecord(number, record); ++number) {
    if (!visit(number, record)) return;
  }
}

}  // namespace quillon
