// Watching a store while the program writes it (inotify): message files
// created and closed in In/, records appended to the message index, entries
// written to the folder index. Lets a test act at an exact point of a run
// without timing.
#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>

#include "platform/file_handle.h"
#include "store/message_store.h"

namespace quillon::test {

// Watches In/ for message files ("*.eml") being created and closed after
// writing, and the message index for the records appended to it.
class StoreWatch {
 public:
  enum class When { kAtStart, kFileCreated, kFileWritten, kRecordStored, kEntryStored };

  explicit StoreWatch(const std::string& data_dir)
      : inotify_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
        index_path_(data_dir + "/" + kMessagesFileName),
        folder_index_path_(data_dir + "/" + kFolderIndexFileName) {
    if (inotify_.IsOpen()) {
      files_watch_ = ::inotify_add_watch(inotify_.Get(), (data_dir + "/In").c_str(),
                                         IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
      index_watch_ = ::inotify_add_watch(inotify_.Get(), data_dir.c_str(),
                                         IN_MODIFY | IN_CLOSE_WRITE);
    }
  }
  bool Ready() const { return inotify_.IsOpen() && files_watch_ >= 0 && index_watch_ >= 0; }

  // Waits until the `when` count reaches `nth`; false when the program
  // ended first or the limit passed.
  bool WaitFor(When when, int nth, pid_t pid, std::chrono::seconds limit) {
    const FileHandle process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!process.IsOpen()) return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    ReadEvents();
    while (Count(when) < nth) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entries[2] = {{inotify_.Get(), POLLIN, 0}, {process.Get(), POLLIN, 0}};
      if (::poll(entries, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
        return false;
      }
      ReadEvents();
      // The program's end counts only once its last events are read.
      if ((entries[1].revents & POLLIN) != 0 && Count(when) < nth) return false;
    }
    return true;
  }

 private:
  int Count(When when) const {
    if (when == When::kFileCreated) return created_;
    if (when == When::kRecordStored) return records_;
    if (when == When::kEntryStored) return entries_;
    return written_;
  }
  void ReadEvents() {
    alignas(inotify_event) char buffer[16384];
    for (int reads = 0; reads < 1000; ++reads) {
      const ssize_t got = ::read(inotify_.Get(), buffer, sizeof buffer);
      if (got <= 0) return;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const std::string name = event->len > 0 ? event->name : "";
        if (event->wd == index_watch_ && name == kMessagesFileName) {
          std::error_code error;
          const auto size = std::filesystem::file_size(index_path_, error);
          // Record 0 is the header.
          if (!error && size >= MessageRecord::kSize) {
            records_ = static_cast<int>(size / MessageRecord::kSize) - 1;
          }
        } else if (event->wd == index_watch_ && name == kFolderIndexFileName) {
          std::error_code error;
          const auto size = std::filesystem::file_size(folder_index_path_, error);
          // Entry k of the folder index belongs to data record k.
          if (!error && size >= FolderIndexEntry::kSize) {
            entries_ = static_cast<int>(size / FolderIndexEntry::kSize) - 1;
          }
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0) {
          if (event->mask & (IN_CREATE | IN_MOVED_TO)) ++created_;
          if (event->mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) ++written_;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  FileHandle inotify_;
  std::string index_path_;
  std::string folder_index_path_;
  int files_watch_ = -1;
  int index_watch_ = -1;
  int created_ = 0;
  int written_ = 0;
  int records_ = 0;
  int entries_ = 0;
};

}  // namespace quillon::test
