// The encryption layer of the socket component: one TLS client session on
// a connected non-blocking socket, on OpenSSL. It never waits itself: every
// step says whether it finished or which socket readiness it needs before
// it can go on, so the socket's pump waits (with their time-out and cancel)
// drive the handshake, reads and writes.
//
// The server's certificate is checked against the system's trust store, or
// against the certificates of a CA file when one is named, and must be
// issued for the host name (or address) the connection was made to.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;

namespace quillon {

// What a connection asks of encryption. kOpportunistic (SMTP only): STARTTLS
// when the server offers it, clear text otherwise.
enum class TSecurity { kNone, kStartTls, kTls, kOpportunistic };

// "none", "starttls", "tls" (any case); nothing for other text.
std::optional<TSecurity> ParseSecurity(std::string_view text);
std::string SecurityName(TSecurity security);

// Ports whose service is TLS from the first byte (POP3S, IMAPS, SMTPS).
inline constexpr int kPop3sPort = 995;
inline constexpr int kImapsPort = 993;
inline constexpr int kSmtpsPort = 465;

class TlsSession {
 public:
  enum class Step { kDone, kWantRead, kWantWrite, kClosed, kFailed };

  // A session for the socket `fd`, connected to `host` (a name or an
  // address literal). `ca_file` empty: the system's trust store. Throws
  // std::runtime_error with the reason when the session cannot be set up
  // (say, an unreadable CA file).
  TlsSession(int fd, const std::string& host, const std::string& ca_file);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // One handshake step. kClosed and kFailed end it; FailureText says why.
  Step Handshake();
  // Up to `size` decrypted bytes; `count` is set when kDone.
  Step Read(char* data, std::size_t size, std::size_t& count);
  // Encrypts and sends up to `size` bytes; `count` is set when kDone. A
  // write that wanted readiness must be repeated with the same bytes.
  Step Write(const char* data, std::size_t size, std::size_t& count);
  // Decrypted or received bytes that OpenSSL holds and the socket no
  // longer signals.
  bool HasPending() const;
  // Tells the server the session ends (close_notify), without waiting.
  void Shutdown();

  // The errno of the socket call behind the last kFailed, 0 when the
  // failure was one of TLS itself.
  int SystemError() const { return system_error_; }
  // Why the handshake failed, naming the host: a refused certificate with
  // the check's reason, or the handshake's own error.
  std::string FailureText() const;
  bool CertificateRefused() const;
  std::string ProtocolName() const;  // "TLSv1.3"
  std::string CipherName() const;    // "TLS_AES_256_GCM_SHA384"

 private:
  struct ContextFree {
    void operator()(ssl_ctx_st* context) const;
  };
  struct SslFree {
    void operator()(ssl_st* ssl) const;
  };

  Step Classify(int result);

  std::string host_;
  std::unique_ptr<ssl_ctx_st, ContextFree> context_;
  std::unique_ptr<ssl_st, SslFree> ssl_;
  bool established_ = false;
  bool failed_ = false;
  int system_error_ = 0;
  std::string error_text_;  // OpenSSL's reason for the last failure
};

}  // namespace quillon
