// Test and benchmark support for the talker: a private session bus per
// process, a listener answering from a thread of its own, a temporary PATH.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QThread>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"

namespace quillon::test {

// dbus-daemon with the session configuration, a child of this process that
// is stopped and reaped by its id.
class PrivateSessionBus {
 public:
  PrivateSessionBus() {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    // Its complaints (e.g. about the fd limit) are no concern of the tests.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char program[] = "dbus-daemon";
    char session[] = "--session";
    char nofork[] = "--nofork";
    char print_address[] = "--print-address=1";
    char* arguments[] = {program, session, nofork, print_address, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, program, &actions, nullptr,
                                     arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (spawned == 0) pid_ = pid;
    FILE* output = fdopen(pipe_ends[0], "r");
    if (output == nullptr) {
      close(pipe_ends[0]);
      return;
    }
    address_ = ReadLine(output);
    fclose(output);
    if (!address_.empty()) {
      setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
  }
  ~PrivateSessionBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  bool Started() const { return pid_ > 0 && !address_.empty(); }

 private:
  static std::string ReadLine(FILE* input) {
    char line[512] = {};
    if (fgets(line, sizeof line, input) == nullptr) return {};
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    return text;
  }

  std::string address_;
  pid_t pid_ = -1;
};

// A TalkerListener running its own event loop in a thread, so that it can
// answer while the test's thread waits inside a send.
class ListenerThread {
 public:
  explicit ListenerThread(TalkerListenerOptions options) {
    thread_.reset(QThread::create([this, options] { Serve(options); }));
    thread_->start();
    std::unique_lock lock(mutex_);
    ready_changed_.wait(lock, [this] { return ready_; });
  }
  ~ListenerThread() {
    {
      std::lock_guard lock(mutex_);
      if (loop_ != nullptr) {
        QMetaObject::invokeMethod(loop_, &QEventLoop::quit,
                                  Qt::QueuedConnection);
      }
    }
    thread_->wait();
  }
  ListenerThread(const ListenerThread&) = delete;
  ListenerThread& operator=(const ListenerThread&) = delete;

  bool Started() const { return started_; }
  const std::string& Error() const { return error_; }
  // Where to ask it: it may own neither of the well-known names.
  const QString& UniqueName() const { return unique_name_; }

 private:
  void Serve(TalkerListenerOptions options) {
    TalkerListener listener(options);
    QEventLoop loop;
    {
      std::lock_guard lock(mutex_);
      started_ = listener.Start(error_);
      unique_name_ = listener.UniqueName();
      if (started_) loop_ = &loop;
      ready_ = true;
    }
    ready_changed_.notify_all();
    if (started_) loop.exec();
    std::lock_guard lock(mutex_);
    loop_ = nullptr;
  }

  std::unique_ptr<QThread> thread_;
  std::mutex mutex_;
  std::condition_variable ready_changed_;
  bool ready_ = false;
  bool started_ = false;
  std::string error_;
  QString unique_name_;
  QEventLoop* loop_ = nullptr;
};

}  // namespace quillon::test

namespace quillon::test {

// A temporary directory that becomes PATH (alone, or first) for the life of
// the object, optionally holding an executable "qvn4" shell script.
class TemporaryPath {
 public:
  enum class Mode { kOnly, kFirst };
  TemporaryPath(Mode mode, const std::string& qvn4_script_body = {}) {
    std::string pattern = TempRoot() + "/talker-path-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) directory_ = pattern;
    if (!qvn4_script_body.empty()) WriteScript(qvn4_script_body);
    const char* old_path = getenv("PATH");
    if (old_path != nullptr) old_path_ = old_path;
    const std::string path =
        mode == Mode::kOnly ? directory_ : directory_ + ":" + old_path_;
    setenv("PATH", path.c_str(), 1);
  }
  ~TemporaryPath() {
    setenv("PATH", old_path_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  TemporaryPath(const TemporaryPath&) = delete;
  TemporaryPath& operator=(const TemporaryPath&) = delete;

  const std::string& Directory() const { return directory_; }

 private:
  static std::string TempRoot() {
    const char* tmp = getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  void WriteScript(const std::string& body) {
    const std::string file = directory_ + "/qvn4";
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }

  std::string directory_;
  std::string old_path_;
};

}  // namespace quillon::test
