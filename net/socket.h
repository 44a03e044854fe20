// TagSocket: the TCP transport under every mail protocol client. It
// resolves the server's host and port, connects, sends command lines, reads
// reply lines and multi-line data, and enforces a time-out and a cancel
// request on every wait. Everything runs on the pump's thread: each wait
// blocks in the pump (CurrentPump()) until a socket event, a timer tick or
// another event, so other handlers (buttons, timers, Cancel) run inside it.
//
// Received bytes are buffered inside the component; every operation still
// hands out exactly the bytes its protocol step owns, so a status line read
// with ReadLine can be followed by the data read with ReceiveData.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/time_counter.h"
#include "net/dial_up_link.h"
#include "net/receive_buffer.h"
#include "net/tls_session.h"
#include "platform/message_pump.h"
#include "platform/streams.h"

namespace quillon {

class HostLookup;
class TagSocket;

using TNotifyEvent = std::function<void(TagSocket& sender)>;
// A message number: which message is being retrieved, deleted, ...
using TmsNumNotifyEvent = std::function<void(TagSocket& sender, int num)>;
using TmsProgressEvent =
    std::function<void(TagSocket& sender, int perc, int transferred)>;
// The handler may change `msg`; ESocketError then carries the changed text.
using TmsErrorEvent = std::function<void(TagSocket& sender, std::string& msg)>;
// One line of the dialogue: "C: " + what was sent or "S: " + what was read.
// Secrets (passwords) are masked before the line is handed out.
using TraceEvent = std::function<void(const std::string& line)>;

// Limits on what one server reply may be.
inline constexpr std::size_t kMaxReplyLineLength = 64 * 1024;   // with CR LF
inline constexpr int kMaxReplyLines = 10000;                    // multi-line
inline constexpr std::int64_t kMaxDataBlockBytes = std::int64_t{1} << 30;
// Received bytes are read in pieces of kReceiveChunk; reading pauses while
// kReceiveBufferLimit bytes wait to be handed out.
inline constexpr std::size_t kReceiveChunk = 64 * 1024;
inline constexpr std::size_t kReceiveBufferLimit = 1024 * 1024;

class TagSocket {
 public:
  TagSocket();
  virtual ~TagSocket();
  TagSocket(const TagSocket&) = delete;
  TagSocket& operator=(const TagSocket&) = delete;

  // --- properties ---------------------------------------------------------
  // The process-wide socket layer state (TagWinsock). Components start with
  // it loaded.
  bool WinsockLoaded() const;
  void SetWinsockLoaded(bool loaded);
  DialUpLink* RAS() const { return ras_; }
  void SetRAS(DialUpLink* ras) { ras_ = ras; }

  // Host name or address, optionally ":" and a decimal port. An IPv6
  // address is written in brackets: "[::1]:2110".
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& server) { server_ = server; }
  std::uint16_t DefaultPort() const { return default_port_; }
  void SetDefaultPort(std::uint16_t port) { default_port_ = port; }
  const std::string& ServiceName() const { return service_name_; }
  void SetServiceName(const std::string& name) { service_name_ = name; }
  // Seconds a wait may last without progress (default 60).
  int TimeOut() const { return clock_.Period(); }
  void SetTimeOut(int seconds) { clock_.SetPeriod(seconds); }

  // Encryption of the connection: kTls starts TLS right after connecting
  // (ConnectSocket); kStartTls and kOpportunistic are the protocol
  // clients' business (StartTls after their STARTTLS command). Default
  // kNone: the connection stays as it is, byte for byte.
  TSecurity Security() const { return security_; }
  void SetSecurity(TSecurity security) { security_ = security; }
  // Certificates of the CAs that may vouch for the server; empty: the
  // system's trust store.
  const std::string& CAFile() const { return ca_file_; }
  void SetCAFile(const std::string& path) { ca_file_ = path; }
  // Encryption is up on the current connection.
  bool TlsActive() const { return tls_ != nullptr && !tls_handshaking_; }
  // The negotiated protocol and cipher ("TLSv1.3", ...); empty when clear.
  std::string TlsProtocol() const;
  std::string TlsCipher() const;

  bool Connected() const { return socket_ >= 0; }
  const std::string& LastReply() const { return last_reply_; }
  const std::string& LocalHostName() const { return local_host_name_; }
  // The port Open chose (host byte order) and the address it resolved.
  std::uint16_t Port() const { return port_; }
  std::string RemoteAddressText() const;
  int StartupCount() const { return startup_count_; }

  // --- events -------------------------------------------------------------
  TNotifyEvent OnOpen;
  TNotifyEvent OnClosing;
  TNotifyEvent OnClosed;
  TNotifyEvent OnCancel;
  TmsProgressEvent OnProgress;
  TmsErrorEvent OnError;
  TraceEvent OnTrace;  // diagnostics only; nothing of the dialogue needs it

  // --- operations ---------------------------------------------------------
  virtual void ResetState();
  // Base form: the first three characters as a decimal number, else -1.
  virtual int GetReplyCode(const std::string& reply) const;
  // Resolves host and port and creates the socket; does not connect.
  virtual void Open();
  virtual void Close();
  virtual void Cancel();

  void ConnectSocket();
  // Encrypts the connection: the TLS handshake, waiting like any read or
  // write (time-out, Cancel). A refused certificate or a failed handshake
  // fires OnError, closes the connection and raises ETlsError naming the
  // host and the reason.
  void StartTls();
  // Sends `text` and CR LF.
  void SendLine(const std::string& text);
  // As SendLine; the trace shows only the first `visible` characters and
  // "****" for the rest (credentials).
  void SendSecretLine(const std::string& text, std::size_t visible);
  // Sends every line with its CR LF in one piece (commands sent ahead of
  // their replies).
  void SendLines(const std::vector<std::string>& lines);
  // Reads one line into `reply` (and LastReply); returns its reply code, or
  // -1 with an empty reply when the peer closed before the line ended.
  int ReadLine(std::string& reply);
  int ReadLine();
  // Reads a reply of one or more "ddd-" lines ended by "ddd "; LastReply is
  // the last line; returns the first line's code.
  int ReadReply();
  // Appends data up to and including CR LF "." CR LF to `stream`.
  // `expected_size` (< 1 when unknown) scales the OnProgress percentage.
  void ReceiveData(TStream& stream, std::int64_t expected_size);
  // Sends the stream's whole content unchanged.
  void SendStream(TStream& stream);

  // Reports and raises a numbered error; code 0 does nothing.
  void SocketError(int code);
  [[noreturn]] void TimeOutError();
  [[noreturn]] void CancelError();
  // OnError with `message`, Close, ETlsError: the connection cannot be
  // trusted with anything further.
  [[noreturn]] void TlsError(const std::string& message);

  // --- primitives for protocol clients that frame replies themselves ------
  // The wait of ReadLine's start: until received data, cancel, time-out or
  // a pending error, checked in that order; then the clock runs again.
  void WaitForReadable();
  // The next received byte, waiting for it while the clock runs. False when
  // the peer closed first or when cancelled or expired (see
  // RaiseIfExpiredOrCancelled). A failed receive raises SocketError.
  bool ReceiveByte(char& byte);
  // Up to `max` received bytes appended to `out`, waiting as ReceiveByte
  // for the first. Returns the count (0 as ReceiveByte's false).
  std::size_t ReceiveBytes(std::string& out, std::size_t max);
  // TimeOutError when the clock expired, else CancelError when cancelled.
  void RaiseIfExpiredOrCancelled();
  void StartClock() { clock_.Start(); }
  void StopClock() { clock_.Stop(); }
  bool Cancelled() const { return cancelled_; }
  bool Expired() const { return clock_.Expired(); }
  void Trace(std::string_view direction, std::string_view text);

  // "host" of "host:port" (all of `server` without a colon), and the
  // decimal port after it (0 when absent or not a number).
  static std::string HostPart(const std::string& server);
  static int PortPart(const std::string& server);

 private:
  void ResolveHost();
  void ResolvePort();
  void CreateSocket();
  void ReleaseSocket();
  void UpdateWatch();
  void OnSocketReady(unsigned ready);
  void FinishConnect();
  void ReceiveAvailable();
  void ReceiveAvailableTls();
  void DriveHandshake();
  // After bytes were handed out: reading goes on where a full buffer
  // stopped it.
  void ResumeReceiving(bool was_full);
  // Hands out what OpenSSL holds already decrypted or read ahead, which the
  // socket will not signal again.
  void TakeWhatTlsHolds();
  // One send of `bytes`: the count taken, 0 after a wait for readiness.
  std::size_t SendSome(std::string_view bytes);
  std::size_t SendSomeTls(std::string_view bytes);
  void ConsumeInput(std::size_t count);
  void SendAll(std::string_view bytes, bool restart_clock_per_send);
  void WaitUntilWritable();
  // Blocks in the pump until `done` holds, or cancel, or expiry.
  void WaitFor(const std::function<bool()>& done);
  // Received bytes to hand out, or the end of them (peer closed, failed).
  bool InputReadyOrEnded() const;
  void CancelPendingLookup();
  void FireProgress(int perc, std::int64_t transferred);
  void Fire(const TNotifyEvent& event);
  // SocketError that also closes: the connection cannot carry anything
  // further (failed connect, reply framing lost).
  [[noreturn]] void SocketErrorClosing(int code);

  std::string server_;
  std::uint16_t default_port_ = 0;
  std::string service_name_;
  DialUpLink* ras_ = nullptr;

  int socket_ = -1;
  MessagePump* pump_ = nullptr;  // where the socket's watch lives
  MessagePump::WatchId watch_ = 0;
  std::unique_ptr<HostLookup> lookup_;  // the pending host lookup
  TTimeCounter clock_;
  sockaddr_storage remote_{};
  socklen_t remote_length_ = 0;
  std::string local_host_name_;
  std::uint16_t port_ = 0;
  int startup_count_ = 0;

  bool cancelled_ = false;
  bool host_lookup_done_ = false;
  bool service_lookup_done_ = false;
  bool connect_done_ = false;
  bool read_ready_ = false;
  bool write_ready_ = false;
  bool peer_closed_ = false;
  bool error_pending_ = false;
  int error_code_ = 0;
  // The socket's receive side as last seen: ended (peer closed or socket
  // closed) or failed with a Winsock code. Both are reported only once the
  // buffered bytes are handed out, so nothing sent before them is lost.
  bool input_ended_ = false;
  int receive_error_ = 0;
  bool connecting_ = false;
  bool waiting_to_send_ = false;

  ReceiveBuffer input_;
  std::string last_reply_;

  TSecurity security_ = TSecurity::kNone;
  std::string ca_file_;
  std::unique_ptr<TlsSession> tls_;  // while the connection is encrypted
  bool tls_handshaking_ = false;
  unsigned tls_handshake_wait_ = 0;  // pump events the handshake waits for
  std::string tls_failure_;          // why the handshake failed
  bool tls_read_wants_write_ = false;
  bool tls_write_wants_read_ = false;
};

}  // namespace quillon
