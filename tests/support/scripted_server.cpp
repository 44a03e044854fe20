#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace quillon::test {

namespace {

constexpr auto kStepLimit = std::chrono::seconds(30);
constexpr std::size_t kMaxClientLine = 1 << 20;
constexpr std::size_t kMaxDataBlock = std::size_t{64} << 20;

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  return line;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::system_error(errno, std::generic_category(), "getsockname");
  }
  return ntohs(address.sin_port);
}

// A TCP socket bound to a free loopback port.
int BindLoopback() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  sockaddr_in address = LoopbackAddress(0);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "bind");
  }
  return fd;
}

}  // namespace

std::string UnescapeScriptBytes(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char code = text[++i];
    if (code == 'r') {
      bytes += '\r';
    } else if (code == 'n') {
      bytes += '\n';
    } else if (code == 't') {
      bytes += '\t';
    } else if (code == 'x' && i + 2 < text.size() &&
               HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      bytes += code;
    }
  }
  return bytes;
}

Script::Script(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::string_view tag = line.substr(0, 2);
    const std::string_view rest = line.size() > 3 ? line.substr(3) : std::string_view();
    if (tag == "C:") {
      Expect(std::string(rest));
    } else if (tag == "C~") {
      ExpectPrefix(std::string(rest));
    } else if (tag == "S:") {
      Send(std::string(rest));
    } else if (tag == "R:") {
      SendRaw(UnescapeScriptBytes(rest));
    } else if (tag == "B:") {
      SendBytewise(UnescapeScriptBytes(rest));
    } else if (tag == "W:") {
      Pause(std::chrono::milliseconds(std::stoi(std::string(rest))));
    } else if (line == "D") {
      ReadData();
    } else if (line == "X") {
      Close();
    } else if (line == "Z") {
      Reset();
    } else if (line == "H") {
      Silence();
    } else if (line == "A") {
      Accept();
    } else {
      throw std::invalid_argument("bad script line: " + std::string(line));
    }
  }
}

Script& Script::Expect(std::string line) {
  steps_.push_back({ScriptStep::Kind::kExpect, std::move(line)});
  return *this;
}
Script& Script::ExpectPrefix(std::string prefix) {
  steps_.push_back({ScriptStep::Kind::kExpectPrefix, std::move(prefix)});
  return *this;
}
Script& Script::Send(std::string line) {
  steps_.push_back({ScriptStep::Kind::kSend, std::move(line) + "\r\n"});
  return *this;
}
Script& Script::SendRaw(std::string bytes) {
  steps_.push_back({ScriptStep::Kind::kSend, std::move(bytes)});
  return *this;
}
Script& Script::SendBytewise(std::string bytes) {
  steps_.push_back({ScriptStep::Kind::kSendBytewise, std::move(bytes)});
  return *this;
}
Script& Script::Pause(std::chrono::milliseconds duration) {
  steps_.push_back({ScriptStep::Kind::kPause, {}, duration});
  return *this;
}
Script& Script::ReadData() {
  steps_.push_back({ScriptStep::Kind::kReadData, {}});
  return *this;
}
Script& Script::Close() {
  steps_.push_back({ScriptStep::Kind::kClose, {}});
  return *this;
}
Script& Script::Reset() {
  steps_.push_back({ScriptStep::Kind::kReset, {}});
  return *this;
}
Script& Script::Silence() {
  steps_.push_back({ScriptStep::Kind::kSilence, {}});
  return *this;
}
Script& Script::Accept() {
  steps_.push_back({ScriptStep::Kind::kAccept, {}});
  return *this;
}
Script& Script::Flood(std::string bytes, std::uint64_t times) {
  steps_.push_back({ScriptStep::Kind::kFlood, std::move(bytes), {}, times});
  return *this;
}

// One accepted connection: line reading and writing with a stop signal.
class ScriptedServer::Session {
 public:
  Session(int fd, int stop_fd) : fd_(fd), stop_fd_(stop_fd) {}
  ~Session() { CloseNow(); }

  bool Open() const { return fd_ >= 0; }
  void CloseNow() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void ResetNow() {
    linger option{1, 0};  // close with RST instead of FIN
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof(option));
    CloseNow();
  }
  bool Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
  // Reads up to and including the next LF. Returns false on end, stop or
  // the step limit; `why` tells which.
  bool ReadLine(std::string& line, std::string& why) {
    line.clear();
    while (true) {
      const std::size_t lf = pending_.find('\n');
      if (lf != std::string::npos) {
        line = pending_.substr(0, lf + 1);
        pending_.erase(0, lf + 1);
        return true;
      }
      if (pending_.size() > kMaxClientLine) {
        why = "client line too long";
        return false;
      }
      if (!Receive(why)) return false;
    }
  }
  // Waits until the client closes or the server stops.
  void WaitForEnd() {
    std::string why;
    while (Receive(why)) pending_.clear();
  }

 private:
  bool Receive(std::string& why) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(kStepLimit).count()));
    if (ready == 0) {
      why = "timed out waiting for the client";
      return false;
    }
    if (ready < 0) {
      if (errno == EINTR) return true;
      why = "poll failed";
      return false;
    }
    if (fds[1].revents != 0) {
      why = "server stopped";
      return false;
    }
    char chunk[4096];
    const ssize_t count = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (count <= 0) {
      why = "client closed the connection";
      return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(count));
    return true;
  }

  int fd_;
  int stop_fd_;
  std::string pending_;
};

ScriptedServer::ScriptedServer(std::string_view script_text)
    : ScriptedServer(Script(script_text)) {}

ScriptedServer::ScriptedServer(const Script& script) : steps_(script.Steps()) {
  if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  listener_ = BindLoopback();
  port_ = BoundPort(listener_);
  if (::listen(listener_, 8) != 0) {
    throw std::system_error(errno, std::generic_category(), "listen");
  }
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  const char stop = 1;
  [[maybe_unused]] ssize_t written = ::write(stop_pipe_[1], &stop, 1);
  if (thread_.joinable()) thread_.join();
  ::close(listener_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
}

std::string ScriptedServer::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

void ScriptedServer::Fail(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (!failures_.empty()) failures_ += "\n";
  failures_ += message;
}

void ScriptedServer::Record(std::string line) {
  std::lock_guard lock(mutex_);
  transcript_.push_back(std::move(line));
}

std::string ScriptedServer::Finish(std::chrono::seconds limit) {
  std::unique_lock lock(mutex_);
  if (!finished_changed_.wait_for(lock, limit, [this] { return finished_; })) {
    return "script did not finish within " + std::to_string(limit.count()) + " s";
  }
  return failures_;
}

std::vector<std::string> ScriptedServer::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

std::vector<std::string> ScriptedServer::DataBlocks() const {
  std::lock_guard lock(mutex_);
  return data_blocks_;
}

int ScriptedServer::Connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

namespace {

// Accepts one client, or returns -1 when stopped or after the step limit.
int AcceptClient(int listener, int stop_fd, std::string& why) {
  pollfd fds[2] = {{listener, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  const int ready = ::poll(fds, 2, static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kStepLimit).count()));
  if (ready <= 0 || fds[1].revents != 0) {
    why = ready == 0 ? "no client connected" : "server stopped";
    return -1;
  }
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    why = "accept failed";
    return -1;
  }
  const int on = 1;
  // Every scripted write should leave as its own segment where it can.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return fd;
}

}  // namespace

std::unique_ptr<ScriptedServer::Session> ScriptedServer::AcceptNext(std::string& why) {
  const int fd = AcceptClient(listener_, stop_pipe_[0], why);
  if (fd < 0) return nullptr;
  std::lock_guard lock(mutex_);
  ++connections_;
  return std::make_unique<Session>(fd, stop_pipe_[0]);
}

bool ScriptedServer::ExpectLine(Session& session, const ScriptStep& step,
                                const std::string& where) {
  std::string line;
  std::string why;
  if (!session.ReadLine(line, why)) {
    Fail(where + "expected \"C: " + step.text + "\", " + why);
    return false;
  }
  line = StripLineEnd(line);
  Record("C: " + line);
  const bool matches = step.kind == ScriptStep::Kind::kExpect ? line == step.text
                                                              : line.starts_with(step.text);
  if (!matches) {
    Fail(where + "expected \"C: " + step.text + "\", got \"C: " + line + "\"");
  }
  return matches;
}

bool ScriptedServer::SendBytes(Session& session, const ScriptStep& step,
                               const std::string& where) {
  Record("S: " + StripLineEnd(step.text));
  bool ok = true;
  if (step.kind == ScriptStep::Kind::kSendBytewise) {
    for (std::size_t i = 0; ok && i < step.text.size(); ++i) {
      ok = session.Write(std::string_view(step.text).substr(i, 1));
    }
  } else {
    ok = session.Write(step.text);
  }
  if (!ok) Fail(where + "could not send");
  return ok;
}

bool ScriptedServer::ReadDataBlock(Session& session, const std::string& where) {
  std::string block;
  std::string line;
  std::string why;
  bool ok = true;
  while ((ok = session.ReadLine(line, why))) {
    block += line;
    if (line == ".\r\n" || line == ".\n") break;
    if (block.size() > kMaxDataBlock) {
      why = "data block too long";
      ok = false;
      break;
    }
  }
  if (!ok) Fail(where + "reading data: " + why);
  Record("C: <" + std::to_string(block.size()) + " bytes of data>");
  std::lock_guard lock(mutex_);
  data_blocks_.push_back(std::move(block));
  return ok;
}

bool ScriptedServer::RunStep(std::unique_ptr<Session>& session, std::size_t index) {
  const ScriptStep& step = steps_[index];
  const std::string where = "step " + std::to_string(index + 1) + ": ";
  std::string why;
  switch (step.kind) {
    case ScriptStep::Kind::kExpect:
    case ScriptStep::Kind::kExpectPrefix:
      return ExpectLine(*session, step, where);
    case ScriptStep::Kind::kSend:
    case ScriptStep::Kind::kSendBytewise:
      return SendBytes(*session, step, where);
    case ScriptStep::Kind::kPause:
      std::this_thread::sleep_for(step.pause);
      return true;
    case ScriptStep::Kind::kReadData:
      return ReadDataBlock(*session, where);
    case ScriptStep::Kind::kClose:
      session->CloseNow();
      return true;
    case ScriptStep::Kind::kReset:
      session->ResetNow();
      return true;
    case ScriptStep::Kind::kSilence:
      session->WaitForEnd();
      return true;
    case ScriptStep::Kind::kFlood: {
      std::uint64_t sent = 0;
      while (sent < step.times && session->Write(step.text)) ++sent;
      Record("S: <" + std::to_string(sent * step.text.size()) + " bytes of flood>");
      return true;
    }
    case ScriptStep::Kind::kAccept:
      session.reset();
      session = AcceptNext(why);
      if (!session) Fail(where + why);
      return session != nullptr;
  }
  return false;
}

void ScriptedServer::Run() {
  std::string why;
  std::unique_ptr<Session> session = AcceptNext(why);
  if (!session) Fail("step 1: " + why);
  for (std::size_t index = 0; session && index < steps_.size(); ++index) {
    if (!RunStep(session, index)) break;
  }
  session.reset();
  std::lock_guard lock(mutex_);
  finished_ = true;
  finished_changed_.notify_all();
}

RefusingPort::RefusingPort() {
  socket_ = BindLoopback();
  port_ = BoundPort(socket_);
}

RefusingPort::~RefusingPort() { ::close(socket_); }

std::string RefusingPort::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

}  // namespace quillon::test
