#include "tests/support/latency_proxy.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace quillon::test {

namespace {

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kListening[] = "listening on ";
constexpr auto kStartLimit = std::chrono::seconds(20);

std::string ScriptPath() {
  return std::string(QUILLON_SOURCE_DIR) + "/bench/latency_proxy.py";
}

// Closes the descriptor it holds when it goes.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { Close(); }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// The proxy's first line of output, read until its end, end of file or the
// deadline, whichever comes first.
std::string ReadFirstLine(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string line;
  while (line.find('\n') == std::string::npos && line.size() < 256) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    line.append(buffer, static_cast<std::size_t>(got));
  }
  return line.substr(0, line.find('\n'));
}

}  // namespace

bool LatencyProxy::Available() { return ::access(kPython, X_OK) == 0; }

LatencyProxy::LatencyProxy(const std::string& target_address, int delay_ms) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make a pipe for the latency proxy");
  }
  const OwnedFd output(pipe_fds[0]);
  OwnedFd child_end(pipe_fds[1]);
  std::vector<std::string> argv{kPython, ScriptPath(), "--target", target_address,
                                "--delay-ms", std::to_string(delay_ms)};
  std::vector<char*> args;
  for (std::string& word : argv) args.push_back(word.data());
  args.push_back(nullptr);
  child_ = ::fork();
  if (child_ < 0) throw std::runtime_error("cannot start the latency proxy");
  if (child_ == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(child_end.get(), 1);
    ::execv(kPython, args.data());
    ::_exit(127);
  }
  // Only the child may hold the writing end, so its death ends the read.
  child_end.Close();
  const std::string line =
      ReadFirstLine(output.get(), std::chrono::steady_clock::now() + kStartLimit);
  if (line.rfind(kListening, 0) == 0) port_ = std::atoi(line.c_str() + sizeof kListening - 1);
  if (port_ <= 0) {
    Stop();
    throw std::runtime_error("latency proxy did not start: \"" + line + "\"");
  }
}

LatencyProxy::~LatencyProxy() { Stop(); }

void LatencyProxy::Stop() {
  if (child_ <= 0) return;
  ::kill(child_, SIGTERM);
  int status = 0;
  while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
}

std::string LatencyProxy::Address() const { return "127.0.0.1:" + std::to_string(port_); }

}  // namespace quillon::test
