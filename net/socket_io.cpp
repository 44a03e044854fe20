// TagSocket: sending lines and streams, reading reply lines and data blocks.
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "net/net_errors.h"
#include "net/socket.h"
#include "net/socket_messages.h"
#include "net/transfer_pace.h"
#include "net/winsock.h"

namespace quillon {

namespace {

constexpr std::size_t kDataPiece = 16384;   // bytes handed to the stream per pass
constexpr std::size_t kSendPiece = 2047;    // bytes read from a stream per send
constexpr std::size_t kStreamTail = 5;
constexpr auto kWaitSlice = std::chrono::seconds(1);

// The last bytes of `stream`, its position left as it was.
std::string StreamTail(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size <= 0) return {};
  const std::int64_t position = stream.Position();
  const std::int64_t start = std::max<std::int64_t>(0, size - kStreamTail);
  std::string tail(static_cast<std::size_t>(size - start), '\0');
  stream.SetPosition(start);
  tail.resize(stream.Read(tail.data(), tail.size()));
  stream.SetPosition(position);
  return tail;
}

bool IsLastLineOf(const std::string& line, int code, int line_code) {
  // "ddd text" ends a multi-line reply; so does a bare "ddd".
  return line_code == code && (line.size() == 3 || line[3] == ' ');
}

}  // namespace

void TagSocket::SendLine(const std::string& text) {
  SendSecretLine(text, text.size());
}

void TagSocket::SendSecretLine(const std::string& text, std::size_t visible) {
  if (!Connected()) SocketError(kMsgNotConnected);
  if (text.find_first_of("\r\n") != std::string::npos) {
    SocketError(kMsgLineBreakInCommand);
  }
  TagWinsock::Instance().RequireLoaded();
  if (visible >= text.size()) {
    Trace("C: ", text);
  } else {
    Trace("C: ", text.substr(0, visible) + "****");
  }
  clock_.Start();
  SendAll(text + "\r\n", false);
  clock_.Stop();
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
}

void TagSocket::SendLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  if (!Connected()) SocketError(kMsgNotConnected);
  std::string bytes;
  for (const std::string& line : lines) {
    if (line.find_first_of("\r\n") != std::string::npos) {
      SocketError(kMsgLineBreakInCommand);
    }
    bytes += line;
    bytes += "\r\n";
  }
  TagWinsock::Instance().RequireLoaded();
  for (const std::string& line : lines) Trace("C: ", line);
  clock_.Start();
  SendAll(bytes, false);
  clock_.Stop();
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
}

void TagSocket::SendAll(std::string_view bytes, bool restart_clock_per_send) {
  std::size_t sent = 0;
  while (sent < bytes.size() && !clock_.Expired() && !cancelled_) {
    ProcessMessages();
    if (clock_.Expired() || cancelled_) break;
    const std::size_t count = SendSome(bytes.substr(sent));
    if (count > 0) {
      sent += count;
      if (restart_clock_per_send) clock_.Start();
    }
  }
}

std::size_t TagSocket::SendSome(std::string_view bytes) {
  if (tls_) return SendSomeTls(bytes);
  const ssize_t count = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (count >= 0) return static_cast<std::size_t>(count);
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    WaitUntilWritable();
  } else if (errno != EINTR) {
    const int code = WinsockErrorFromErrno(errno);
    if (!cancelled_) SocketError(code);
  }
  return 0;
}

std::size_t TagSocket::SendSomeTls(std::string_view bytes) {
  std::size_t count = 0;
  switch (tls_->Write(bytes.data(), bytes.size(), count)) {
    case TlsSession::Step::kDone:
      return count;
    case TlsSession::Step::kWantWrite:
      WaitUntilWritable();
      break;
    case TlsSession::Step::kWantRead:
      // The session must read (say, a key update) before it can write.
      write_ready_ = false;
      tls_write_wants_read_ = true;
      UpdateWatch();
      WaitFor([this] { return write_ready_ || socket_ < 0; });
      tls_write_wants_read_ = false;
      TakeWhatTlsHolds();
      break;
    case TlsSession::Step::kClosed:
      if (!cancelled_) SocketError(kWsaEConnReset);
      break;
    case TlsSession::Step::kFailed: {
      const int system_error = tls_->SystemError();
      if (!cancelled_) {
        SocketError(system_error != 0 ? WinsockErrorFromErrno(system_error) : kMsgTlsBroken);
      }
      break;
    }
  }
  return 0;
}

void TagSocket::WaitUntilWritable() {
  write_ready_ = false;
  waiting_to_send_ = true;
  UpdateWatch();
  WaitFor([this] { return write_ready_ || socket_ < 0; });
  waiting_to_send_ = false;
  UpdateWatch();
}

void TagSocket::WaitForReadable() {
  if (!Connected()) SocketError(kMsgNotConnected);
  TagWinsock::Instance().RequireLoaded();
  clock_.Start();
  WaitFor([this] { return InputReadyOrEnded(); });
  clock_.Stop();
  if (cancelled_) CancelError();
  if (clock_.Expired()) TimeOutError();
  if (input_.Empty() && receive_error_ != 0) SocketError(receive_error_);
  clock_.Start();
  read_ready_ = false;
  ProcessMessages();
}

bool TagSocket::ReceiveByte(char& byte) {
  std::string out;
  if (ReceiveBytes(out, 1) == 0) return false;
  byte = out[0];
  return true;
}

std::size_t TagSocket::ReceiveBytes(std::string& out, std::size_t max) {
  while (input_.Empty()) {
    if (cancelled_ || clock_.Expired()) return 0;
    if (receive_error_ != 0) SocketError(receive_error_);
    if (input_ended_) return 0;
    WaitFor([this] { return InputReadyOrEnded(); });
  }
  const std::size_t count = std::min(max, input_.Size());
  out.append(input_.View().substr(0, count));
  ConsumeInput(count);
  return count;
}

int TagSocket::ReadLine() { return ReadLine(last_reply_); }

int TagSocket::ReadLine(std::string& reply) {
  WaitForReadable();
  std::string raw;
  bool complete = false;
  while (!cancelled_ && !clock_.Expired()) {
    const bool was_full = input_.Size() >= kReceiveBufferLimit;
    complete = input_.TakeLine(raw, kMaxReplyLineLength);
    ResumeReceiving(was_full);
    if (complete) break;
    if (raw.size() >= kMaxReplyLineLength) SocketErrorClosing(kMsgReplyTooLong);
    if (receive_error_ != 0 && !cancelled_) SocketError(receive_error_);
    if (input_ended_) break;
    WaitFor([this] { return InputReadyOrEnded(); });
  }
  clock_.Stop();
  reply = complete ? StripLineEnd(raw) : std::string();
  if (&reply != &last_reply_) last_reply_ = reply;
  const int code = complete ? GetReplyCode(reply) : -1;
  if (complete) Trace("S: ", reply);
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
  return code;
}

int TagSocket::ReadReply() {
  const int code = ReadLine();
  if (code <= 0 || last_reply_.size() < 4 || last_reply_[3] != '-') return code;
  for (int lines = 1;; ++lines) {
    if (input_ended_ && input_.Empty()) break;  // the peer has closed
    if (lines >= kMaxReplyLines) SocketErrorClosing(kMsgReplyTooLong);
    const int line_code = ReadLine();
    if (IsLastLineOf(last_reply_, code, line_code)) break;
  }
  return code;
}

void TagSocket::ReceiveData(TStream& stream, std::int64_t expected_size) {
  WaitForReadable();
  clock_.Stop();
  const std::int64_t start_size = stream.Size();
  DataEndDetector detector(StreamTail(stream), start_size);
  TransferPace pace;
  pace.Start(TimeOut());
  clock_.Start();
  while (true) {
    const std::int64_t position = stream.Position();
    FireProgress(expected_size < 1 ? -1 : RoundedPercent(position, expected_size),
                 position);
    if (cancelled_) break;
    if (!input_.Empty()) {
      const std::string_view chunk = input_.View().substr(0, kDataPiece);
      const std::size_t taken = detector.Feed(chunk);
      // Refused before it is written, so the stream never holds more.
      if (detector.TotalSize() - start_size > kMaxDataBlockBytes) {
        SocketErrorClosing(kMsgDataTooLong);
      }
      stream.Write(chunk.data(), taken);
      ConsumeInput(taken);
      if (!pace.Received(taken)) TimeOutError();
      clock_.Start();
    } else if (receive_error_ != 0) {
      SocketError(receive_error_);
    } else if (input_ended_) {
      // The server went away before the end of the data: nothing more can
      // come, so report it now instead of waiting out the clock.
      SocketError(kWsaEConnReset);
    }
    if (detector.Complete() || cancelled_ || clock_.Expired()) break;
    if (InputReadyOrEnded()) {
      ProcessMessages();
    } else {
      CurrentPump().WaitForEvents(MessagePump::Clock::now() + kWaitSlice);
    }
  }
  clock_.Stop();
  Trace("S: ", "<" + std::to_string(detector.TotalSize() - start_size) +
                   " bytes of data>");
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
}

void TagSocket::SendStream(TStream& stream) {
  if (!Connected()) SocketError(kMsgNotConnected);
  TagWinsock::Instance().RequireLoaded();
  stream.SetPosition(0);
  const std::int64_t size = stream.Size();
  Trace("C: ", "<" + std::to_string(size) + " bytes of data>");
  std::array<char, kSendPiece> piece;
  bool finished = false;
  while (!finished && !clock_.Expired() && !cancelled_) {
    const std::size_t count = stream.Read(piece.data(), piece.size());
    clock_.Start();
    SendAll(std::string_view(piece.data(), count), true);
    clock_.Stop();
    finished = count < piece.size();
    const std::int64_t position = stream.Position();
    // An empty stream counts as sent in full.
    FireProgress(size > 0 ? RoundedPercent(position, size) : 100, position);
  }
  if (clock_.Expired()) TimeOutError();
  if (cancelled_) CancelError();
  FireProgress(0, 0);
}

}  // namespace quillon
