// TagSocket: life cycle, resolution, connection, events and errors. The
// line, data and stream operations are in socket_io.cpp.
#include "net/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "net/host_lookup.h"
#include "net/net_errors.h"
#include "net/socket_messages.h"
#include "net/winsock.h"
#include "platform/text.h"

namespace quillon {

namespace {

// How long one blocking wait in the pump lasts at most; the clock's
// one-second tick wakes it anyway while it runs.
constexpr auto kWaitSlice = std::chrono::seconds(1);
constexpr std::size_t kHostNameRoom = 512;

void SetPort(sockaddr_storage& address, std::uint16_t port) {
  if (address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(port);
  }
}

}  // namespace

TagSocket::TagSocket() {
  // A component comes up with the socket layer loaded, as the main window's
  // components did through their stored property value.
  SetWinsockLoaded(true);
}

TagSocket::~TagSocket() {
  lookup_.reset();
  ReleaseSocket();
}

bool TagSocket::WinsockLoaded() const { return TagWinsock::Instance().Loaded(); }

void TagSocket::SetWinsockLoaded(bool loaded) {
  if (loaded) {
    TagWinsock::Instance().Load();
  } else {
    TagWinsock::Instance().Unload();
  }
}

std::string TagSocket::RemoteAddressText() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (remote_.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&remote_)->sin_addr,
                text, sizeof(text));
  } else if (remote_.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6,
                &reinterpret_cast<const sockaddr_in6*>(&remote_)->sin6_addr,
                text, sizeof(text));
  }
  return text;
}

std::string TagSocket::HostPart(const std::string& server) {
  if (server.starts_with('[')) {
    const std::size_t close = server.find(']');
    if (close != std::string::npos) return server.substr(1, close - 1);
  }
  return server.substr(0, server.find(':'));
}

int TagSocket::PortPart(const std::string& server) {
  std::size_t colon = server.find(':');
  if (server.starts_with('[')) {
    const std::size_t close = server.find(']');
    colon = close == std::string::npos ? std::string::npos
                                       : server.find(':', close);
  }
  if (colon == std::string::npos) return 0;
  return StrToIntDef(std::string_view(server).substr(colon + 1), 0);
}

void TagSocket::ResetState() {
  cancelled_ = false;
  clock_.SetExpired(false);
  lookup_.reset();
  error_pending_ = false;
  host_lookup_done_ = false;
  service_lookup_done_ = false;
  connect_done_ = false;
  read_ready_ = false;
  write_ready_ = false;
  peer_closed_ = false;
}

int TagSocket::GetReplyCode(const std::string& reply) const {
  return ThreeDigitReplyCode(reply);
}

void TagSocket::Open() {
  if (ras_ != nullptr) ras_->Connect();
  Fire(OnOpen);
  if (server_.empty()) SocketError(kMsgServerRequired);
  TagWinsock::Instance().RequireLoaded();
  ++startup_count_;
  std::array<char, kHostNameRoom> name{};
  if (::gethostname(name.data(), name.size() - 1) == 0) {
    local_host_name_ = name.data();
  } else {
    local_host_name_ = HostPart(server_);
  }
  ResolveHost();
  ResolvePort();
  CreateSocket();
}

void TagSocket::ResolveHost() {
  const std::string host = HostPart(server_);
  if (HostLookup::ParseNumeric(host, remote_, remote_length_)) return;
  remote_length_ = 0;
  try {
    lookup_ = std::make_unique<HostLookup>(
        CurrentPump(), host, [this](const HostLookupResult& result) {
          host_lookup_done_ = true;
          error_code_ = result.error;
          error_pending_ = result.error != 0;
          if (result.error == 0) {
            remote_ = result.address;
            remote_length_ = result.length;
          }
        });
  } catch (const std::system_error&) {
    // The lookup could not even start: say so now rather than at expiry.
    SocketError(kMsgResolveFailed);
  }
  clock_.Start();
  WaitFor([this] { return host_lookup_done_; });
  clock_.Stop();
  lookup_.reset();
  if (error_pending_) SocketError(error_code_);
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
  ProcessMessages();
  if (remote_length_ == 0) SocketError(kMsgResolveFailed);
}

void TagSocket::ResolvePort() {
  const auto from_server = static_cast<std::uint16_t>(PortPart(server_));
  if (from_server != 0) {
    port_ = from_server;
    return;
  }
  if (service_name_.empty()) SocketError(kMsgServiceRequired);
  if (cancelled_) CancelError();
  // The services database is a local file, so it is read directly.
  servent entry{};
  servent* found = nullptr;
  std::array<char, 1024> room{};
  ::getservbyname_r(service_name_.c_str(), "tcp", &entry, room.data(),
                    room.size(), &found);
  service_lookup_done_ = true;
  port_ = found != nullptr ? ntohs(static_cast<std::uint16_t>(found->s_port))
                           : default_port_;
}

void TagSocket::CreateSocket() {
  ReleaseSocket();
  const int fd = ::socket(remote_.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) SocketError(WinsockErrorFromErrno(errno));
  socket_ = fd;
  // Commands are small and each waits for its reply: send them at once
  // rather than holding them back for an acknowledgement.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  input_.Clear();
  input_ended_ = false;
  receive_error_ = 0;
  connecting_ = false;
  waiting_to_send_ = false;
}

void TagSocket::ReleaseSocket() {
  if (watch_ != 0 && pump_ != nullptr) pump_->RemoveWatch(watch_);
  watch_ = 0;
  pump_ = nullptr;
  if (tls_) tls_->Shutdown();
  tls_.reset();
  tls_handshaking_ = false;
  tls_read_wants_write_ = false;
  tls_write_wants_read_ = false;
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  input_.Clear();
  input_ended_ = true;
  connecting_ = false;
  waiting_to_send_ = false;
}

void TagSocket::ConnectSocket() {
  if (cancelled_) CancelError();
  TagWinsock::Instance().RequireLoaded();
  if (!Connected()) SocketError(kMsgNotConnected);
  sockaddr_storage address = remote_;
  SetPort(address, port_);
  pump_ = &CurrentPump();
  connecting_ = true;
  watch_ = pump_->AddWatch(socket_, MessagePump::kWritable,
                           [this](unsigned ready) { OnSocketReady(ready); });
  clock_.Start();
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address),
                remote_length_) == 0) {
    connecting_ = false;
    connect_done_ = true;
  } else if (errno != EINPROGRESS && errno != EINTR) {
    connecting_ = false;
    SocketErrorClosing(WinsockErrorFromErrno(errno));
  }
  // A refused or unreachable connection ends the wait at once.
  WaitFor([this] { return connect_done_ || error_pending_; });
  clock_.Stop();
  if (cancelled_) CancelError();
  if (clock_.Expired()) TimeOutError();
  if (!connect_done_) SocketErrorClosing(error_code_);
  UpdateWatch();
  if (security_ == TSecurity::kTls) StartTls();
}

void TagSocket::StartTls() {
  if (!Connected()) SocketError(kMsgNotConnected);
  const std::string host = HostPart(server_);
  // Bytes that came before the handshake were sent in clear text after the
  // server's go-ahead: they cannot be the server's and must not be taken
  // as if they had come encrypted.
  if (!input_.Empty()) {
    TlsError("The server " + host + " sent clear text before the TLS handshake");
  }
  try {
    tls_ = std::make_unique<TlsSession>(socket_, host, ca_file_);
  } catch (const std::runtime_error& failure) {
    TlsError(failure.what());
  }
  Trace("-- ", "TLS handshake with " + host);
  tls_failure_.clear();
  tls_handshaking_ = true;
  clock_.Start();
  DriveHandshake();
  WaitFor([this] { return !tls_handshaking_; });
  clock_.Stop();
  if (cancelled_) CancelError();
  if (clock_.Expired()) TimeOutError();
  if (!tls_failure_.empty()) TlsError(tls_failure_);
  Trace("-- ", "TLS established: " + TlsProtocol() + " " + TlsCipher());
  TakeWhatTlsHolds();
}

void TagSocket::TakeWhatTlsHolds() {
  // OpenSSL reads ahead: the server's first line may have come with the
  // last handshake record and sit in its buffer, where the socket no
  // longer signals it.
  if (tls_ && tls_->HasPending()) ReceiveAvailable();
  UpdateWatch();
}

void TagSocket::DriveHandshake() {
  switch (tls_->Handshake()) {
    case TlsSession::Step::kDone:
      tls_handshaking_ = false;
      break;
    case TlsSession::Step::kWantRead:
      tls_handshake_wait_ = MessagePump::kReadable;
      break;
    case TlsSession::Step::kWantWrite:
      tls_handshake_wait_ = MessagePump::kWritable;
      break;
    case TlsSession::Step::kClosed:
    case TlsSession::Step::kFailed:
      tls_handshaking_ = false;
      tls_failure_ = tls_->FailureText();
      break;
  }
  UpdateWatch();
}

std::string TagSocket::TlsProtocol() const {
  return TlsActive() ? tls_->ProtocolName() : std::string();
}

std::string TagSocket::TlsCipher() const {
  return TlsActive() ? tls_->CipherName() : std::string();
}

void TagSocket::OnSocketReady(unsigned ready) {
  if (connecting_) {
    FinishConnect();
    if (!connect_done_) return;
  }
  if (tls_handshaking_) {
    DriveHandshake();
    return;
  }
  constexpr unsigned kTrouble = MessagePump::kHangup | MessagePump::kError;
  if (waiting_to_send_ && (ready & (MessagePump::kWritable | kTrouble)) != 0) {
    // On trouble the next send reports what went wrong.
    write_ready_ = true;
    waiting_to_send_ = false;
  }
  if (tls_write_wants_read_ && (ready & (MessagePump::kReadable | kTrouble)) != 0) {
    write_ready_ = true;
    tls_write_wants_read_ = false;
  }
  const bool read_may_go_on =
      tls_read_wants_write_ && (ready & (MessagePump::kWritable | kTrouble)) != 0;
  if (read_may_go_on || (ready & (MessagePump::kReadable | kTrouble)) != 0) {
    ReceiveAvailable();
  }
  UpdateWatch();
}

void TagSocket::FinishConnect() {
  connecting_ = false;
  int failure = 0;
  socklen_t length = sizeof(failure);
  if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
    failure = errno;
  }
  error_code_ = failure == 0 ? 0 : WinsockErrorFromErrno(failure);
  error_pending_ = failure != 0;
  if (failure == 0) {
    connect_done_ = true;
    write_ready_ = true;
  }
  UpdateWatch();
}

void TagSocket::UpdateWatch() {
  if (watch_ == 0 || pump_ == nullptr) return;
  unsigned events = 0;
  if (connecting_) {
    events = MessagePump::kWritable;
  } else if (tls_handshaking_) {
    events = tls_handshake_wait_;
  } else if (connect_done_ || socket_ >= 0) {
    if (!input_ended_ && receive_error_ == 0 && input_.Size() < kReceiveBufferLimit) {
      events |= MessagePump::kReadable;
    }
    if (waiting_to_send_ || tls_read_wants_write_) events |= MessagePump::kWritable;
    if (tls_write_wants_read_) events |= MessagePump::kReadable;
  }
  pump_->SetWatchEvents(watch_, events);
}

void TagSocket::ReceiveAvailable() {
  if (tls_) {
    ReceiveAvailableTls();
    return;
  }
  std::array<char, kReceiveChunk> chunk;
  while (socket_ >= 0 && input_.Size() < kReceiveBufferLimit) {
    const ssize_t count = ::recv(socket_, chunk.data(), chunk.size(), 0);
    if (count > 0) {
      input_.Append(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
      read_ready_ = true;
      error_pending_ = false;
      error_code_ = 0;
      if (static_cast<std::size_t>(count) < chunk.size()) break;
    } else if (count == 0) {
      input_ended_ = true;
      peer_closed_ = true;
      break;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      break;
    } else {
      receive_error_ = WinsockErrorFromErrno(errno);
      error_code_ = receive_error_;
      error_pending_ = true;
      break;
    }
  }
}

void TagSocket::ReceiveAvailableTls() {
  std::array<char, kReceiveChunk> chunk;
  tls_read_wants_write_ = false;
  // Until the socket has nothing more: what OpenSSL read ahead would not
  // be signalled again.
  while (tls_ && input_.Size() < kReceiveBufferLimit) {
    std::size_t count = 0;
    const TlsSession::Step step = tls_->Read(chunk.data(), chunk.size(), count);
    if (step == TlsSession::Step::kDone) {
      input_.Append(std::string_view(chunk.data(), count));
      read_ready_ = true;
      error_pending_ = false;
      error_code_ = 0;
      continue;
    }
    if (step == TlsSession::Step::kWantWrite) tls_read_wants_write_ = true;
    if (step == TlsSession::Step::kClosed) {
      input_ended_ = true;
      peer_closed_ = true;
    } else if (step == TlsSession::Step::kFailed) {
      const int system_error = tls_->SystemError();
      receive_error_ = system_error != 0 ? WinsockErrorFromErrno(system_error) : kMsgTlsBroken;
      error_code_ = receive_error_;
      error_pending_ = true;
    }
    break;
  }
}

void TagSocket::ResumeReceiving(bool was_full) {
  if (!was_full || input_.Size() >= kReceiveBufferLimit) return;
  TakeWhatTlsHolds();
}

bool TagSocket::InputReadyOrEnded() const {
  return !input_.Empty() || input_ended_ || receive_error_ != 0;
}

void TagSocket::ConsumeInput(std::size_t count) {
  const bool was_full = input_.Size() >= kReceiveBufferLimit;
  input_.Consume(count);
  ResumeReceiving(was_full);
}

void TagSocket::WaitFor(const std::function<bool()>& done) {
  while (!done() && !cancelled_ && !clock_.Expired()) {
    CurrentPump().WaitForEvents(MessagePump::Clock::now() + kWaitSlice);
  }
}

void TagSocket::Close() {
  if (socket_ >= 0) {
    TagWinsock::Instance().RequireLoaded();
    Fire(OnClosing);
    ReleaseSocket();
    Fire(OnClosed);
  }
  if (ras_ != nullptr) ras_->Disconnect();
}

void TagSocket::Cancel() {
  cancelled_ = true;
  Fire(OnCancel);
  CancelPendingLookup();
  Close();
}

void TagSocket::CancelPendingLookup() { lookup_.reset(); }

void TagSocket::Fire(const TNotifyEvent& event) {
  if (event) event(*this);
}

void TagSocket::FireProgress(int perc, std::int64_t transferred) {
  if (OnProgress) OnProgress(*this, perc, static_cast<int>(transferred));
}

void TagSocket::SocketError(int code) {
  if (code == 0) return;
  clock_.Stop();
  std::string message = SocketErrorMessage(code);
  if (OnError) OnError(*this, message);
  if (code == kWsaEConnReset) Close();
  throw ESocketError(message);
}

void TagSocket::TlsError(const std::string& message) {
  clock_.Stop();
  std::string text = message;
  if (OnError) OnError(*this, text);
  Close();
  throw ETlsError(text);
}

void TagSocket::SocketErrorClosing(int code) {
  clock_.Stop();
  std::string message = SocketErrorMessage(code);
  if (OnError) OnError(*this, message);
  Close();
  throw ESocketError(message);
}

void TagSocket::TimeOutError() {
  clock_.Stop();
  std::string message = SocketErrorMessage(kMsgTimedOut);
  if (OnError) OnError(*this, message);
  CancelPendingLookup();
  Close();
  throw ETimedOutError();
}

void TagSocket::CancelError() {
  clock_.Stop();
  std::string message = SocketErrorMessage(kMsgCanceled);
  if (OnError) OnError(*this, message);
  throw ECanceledError();
}

void TagSocket::RaiseIfExpiredOrCancelled() {
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
}

void TagSocket::Trace(std::string_view direction, std::string_view text) {
  if (!OnTrace) return;
  std::string line(direction);
  line.append(text);
  OnTrace(line);
}

}  // namespace quillon
