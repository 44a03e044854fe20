#include "store/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_injection.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

std::string PrepareDataFile(const std::string& file_name,
                            std::size_t record_size) {
  std::string path = DataFilePath(file_name);
  const RecordFile created_when_missing(path, record_size,
                                       ZeroHeader(record_size));
  return path;
}

bool LookUpRecordById(const std::string& file_name, std::size_t record_size,
                      std::int32_t id, std::string& record) {
  const RecordFile file(DataFilePath(file_name), record_size,
                        ZeroHeader(record_size));
  // The header must be there (the scan checks), but whatever it holds never
  // matches.
  bool found = false;
  ScanDataRecords(file, [&](std::size_t, const std::string& candidate) {
    found = GetInt32(candidate, 0) == id;
    if (found) record = candidate;
    return !found;
  });
  return found;
}

std::size_t AppendPosition(const RecordFile& file, std::int32_t count) {
  const std::size_t records = file.RecordCount();
  const std::size_t data_records = records == 0 ? 0 : records - 1;
  const bool fits = count >= 0 &&
                    static_cast<std::size_t>(count) <= data_records &&
                    static_cast<std::size_t>(count) + 1 >= data_records;
  if (!fits) {
    ThrowDamagedHeader("appending to", file.Path(),
                       "it counts " + std::to_string(count) +
                           " records, the file holds " +
                           std::to_string(data_records));
  }
  return static_cast<std::size_t>(count) + 1;
}

HeaderWriteLock::HeaderWriteLock(const std::string& path,
                                 std::size_t record_size)
    : file_(FileOpen(path.c_str(), O_RDWR)) {
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
