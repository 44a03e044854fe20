#include "platform/fault_injection.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace quillon {

namespace {

// The one check a call makes while no test watches.
std::atomic<bool> watching{false};

// Only touched while watching; a test and a run may sit on two threads
// (a server thread never makes these calls, but the lock costs nothing
// next to a system call).
struct FaultPlan {
  std::mutex lock;
  long counts[kFileOperationKinds] = {};
  FileOperation kind = FileOperation::kOpen;
  long nth = 0;
  int error_code = 0;
  bool injected = false;
};

FaultPlan& Plan() {
  static FaultPlan plan;
  return plan;
}

// Counts the call; true when it is the one to fail (errno is then set).
bool ShouldFail(FileOperation kind) {
  if (!watching.load(std::memory_order_relaxed)) return false;
  FaultPlan& plan = Plan();
  std::lock_guard<std::mutex> guard(plan.lock);
  const long count = ++plan.counts[static_cast<int>(kind)];
  if (plan.nth == 0 || kind != plan.kind || count != plan.nth) return false;
  plan.injected = true;
  errno = plan.error_code;
  return true;
}

}  // namespace

const char* FileOperationName(FileOperation kind) {
  switch (kind) {
    case FileOperation::kOpen:
      return "open";
    case FileOperation::kWrite:
      return "write";
    case FileOperation::kSync:
      return "sync";
    case FileOperation::kRename:
      return "rename";
    case FileOperation::kClose:
      return "close";
  }
  return "?";
}

int FileOpen(const char* path, int flags, mode_t mode) {
  if (ShouldFail(FileOperation::kOpen)) return -1;
  return ::open(path, flags | O_CLOEXEC, mode);
}

int FileMakeTemp(char* pattern) {
  if (ShouldFail(FileOperation::kOpen)) return -1;
  return ::mkostemp(pattern, O_CLOEXEC);
}

ssize_t FileWrite(int fd, const void* bytes, std::size_t count) {
  if (ShouldFail(FileOperation::kWrite)) return -1;
  return ::write(fd, bytes, count);
}

ssize_t FileWriteAt(int fd, const void* bytes, std::size_t count, off_t offset) {
  if (ShouldFail(FileOperation::kWrite)) return -1;
  return ::pwrite(fd, bytes, count, offset);
}

int FileSync(int fd) {
  if (ShouldFail(FileOperation::kSync)) return -1;
  return ::fsync(fd);
}

int FileSystemSync(int fd) {
  if (ShouldFail(FileOperation::kSync)) return -1;
  return ::syncfs(fd);
}

int FileRename(const char* from, const char* to) {
  if (ShouldFail(FileOperation::kRename)) return -1;
  return ::rename(from, to);
}

int FileLink(const char* existing, const char* new_name) {
  if (ShouldFail(FileOperation::kRename)) return -1;
  return ::link(existing, new_name);
}

int FileClose(int fd) {
  if (ShouldFail(FileOperation::kClose)) {
    const int error_code = errno;
    ::close(fd);
    errno = error_code;
    return -1;
  }
  return ::close(fd);
}

void WatchFileOperations(FileOperation kind, long nth, int error_code) {
  FaultPlan& plan = Plan();
  {
    std::lock_guard<std::mutex> guard(plan.lock);
    for (long& count : plan.counts) count = 0;
    plan.kind = kind;
    plan.nth = nth;
    plan.error_code = error_code;
    plan.injected = false;
  }
  watching.store(true, std::memory_order_relaxed);
}

void WatchFileOperations() { WatchFileOperations(FileOperation::kOpen, 0, 0); }

void StopWatchingFileOperations() {
  watching.store(false, std::memory_order_relaxed);
}

long FileOperationCount(FileOperation kind) {
  FaultPlan& plan = Plan();
  std::lock_guard<std::mutex> guard(plan.lock);
  return plan.counts[static_cast<int>(kind)];
}

bool FileFaultInjected() {
  FaultPlan& plan = Plan();
  std::lock_guard<std::mutex> guard(plan.lock);
  return plan.injected;
}

}  // namespace quillon
