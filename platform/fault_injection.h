// The file calls of the store, of the received-message step and of the
// retrieved list, in one place, so that a test can make the Nth open,
// write, sync, rename or close fail with a chosen errno (ENOSPC, EIO,
// EDQUOT, ...) and see what a failing disk does to a run.
//
// Each call behaves as the system call it names: -1 (or the short count)
// with errno set. While no test watches, a call costs one relaxed load
// more than the system call itself.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace quillon {

enum class FileOperation { kOpen, kWrite, kSync, kRename, kClose };
inline constexpr int kFileOperationKinds = 5;

// "open", "write", "sync", "rename", "close".
const char* FileOperationName(FileOperation kind);

int FileOpen(const char* path, int flags, mode_t mode = 0);
// mkstemp(): counted as an open.
int FileMakeTemp(char* pattern);
ssize_t FileWrite(int fd, const void* bytes, std::size_t count);
ssize_t FileWriteAt(int fd, const void* bytes, std::size_t count, off_t offset);
int FileSync(int fd);
// syncfs(): counted as a sync.
int FileSystemSync(int fd);
int FileRename(const char* from, const char* to);
// link(): counted as a rename (a new name put in place).
int FileLink(const char* existing, const char* new_name);
// The descriptor is closed also when the call reports a failure.
int FileClose(int fd);

// --- the test switch --------------------------------------------------------

// From now on the file calls above are counted by kind; the `nth` call
// (counted from 1) of `kind` fails with `error_code`. nth 0 only counts.
// Counts start again at 0.
void WatchFileOperations(FileOperation kind, long nth, int error_code);
void WatchFileOperations();  // counts only
// Stops counting and failing; the counts stay readable.
void StopWatchingFileOperations();
long FileOperationCount(FileOperation kind);
// Whether the chosen call was reached (and failed) since the last watch.
bool FileFaultInjected();

}  // namespace quillon
