#include "net/tls_session.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "platform/text.h"

namespace quillon {

namespace {

// OpenSSL reads whole buffers of records at once instead of one record
// header and body per socket call.
constexpr long kReadBufferLength = 64 * 1024;

// The socket BIO of OpenSSL writes with write(), which raises SIGPIPE when
// the server has gone; this one uses send() with MSG_NOSIGNAL, as the plain
// path does, and leaves errno for the caller's error code.
int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  const ssize_t count = ::send(SocketOf(bio), data, static_cast<std::size_t>(length),
                               MSG_NOSIGNAL);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_write(bio);
  }
  return static_cast<int>(count);
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  const ssize_t count = ::recv(SocketOf(bio), data, static_cast<std::size_t>(length), 0);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    BIO_set_retry_read(bio);
  }
  return static_cast<int>(count);
}

long BioControl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made =
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillon socket");
    if (made == nullptr) return made;
    BIO_meth_set_write(made, BioWrite);
    BIO_meth_set_read(made, BioRead);
    BIO_meth_set_ctrl(made, BioControl);
    BIO_meth_set_create(made, BioCreate);
    return made;
  }();
  return method;
}

// The text of the oldest error on OpenSSL's queue, and the queue emptied.
std::string TakeOpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return {};
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

bool IsAddressLiteral(const std::string& host) {
  in6_addr room{};
  return ::inet_pton(AF_INET, host.c_str(), &room) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), &room) == 1;
}

int ClampedLength(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

std::optional<TSecurity> ParseSecurity(std::string_view text) {
  const std::string word = LowerCase(Trim(text));
  if (word == "none") return TSecurity::kNone;
  if (word == "starttls") return TSecurity::kStartTls;
  if (word == "tls") return TSecurity::kTls;
  return std::nullopt;
}

std::string SecurityName(TSecurity security) {
  switch (security) {
    case TSecurity::kNone: return "none";
    case TSecurity::kStartTls: return "starttls";
    case TSecurity::kTls: return "tls";
    case TSecurity::kOpportunistic: return "starttls when offered";
  }
  return "none";
}

void TlsSession::ContextFree::operator()(ssl_ctx_st* context) const { SSL_CTX_free(context); }
void TlsSession::SslFree::operator()(ssl_st* ssl) const { SSL_free(ssl); }

TlsSession::TlsSession(int fd, const std::string& host, const std::string& ca_file)
    : host_(host) {
  ERR_clear_error();
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_) throw std::runtime_error("TLS is not available: " + TakeOpenSslError());
  SSL_CTX* context = context_.get();
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // Servers that close without close_notify end the input as a plain
  // close does; the mail protocols frame their own data.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE |
                                SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, kReadBufferLength);
  const bool trusted = ca_file.empty()
                           ? SSL_CTX_set_default_verify_paths(context) == 1
                           : SSL_CTX_load_verify_locations(context, ca_file.c_str(), nullptr) == 1;
  if (!trusted) {
    const std::string reason = TakeOpenSslError();
    throw std::runtime_error(ca_file.empty()
                                 ? "cannot read the system's trusted certificates: " + reason
                                 : "cannot read the CA file " + ca_file + ": " + reason);
  }
  ssl_.reset(SSL_new(context));
  BIO* bio = SocketBioMethod() != nullptr ? BIO_new(SocketBioMethod()) : nullptr;
  if (!ssl_ || bio == nullptr) {
    BIO_free(bio);
    throw std::runtime_error("TLS is not available: " + TakeOpenSslError());
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  SSL_set_bio(ssl_.get(), bio, bio);  // the session owns the BIO now
  X509_VERIFY_PARAM* check = SSL_get0_param(ssl_.get());
  bool named = false;
  if (IsAddressLiteral(host)) {
    // An address is checked against the certificate's IP entries; SNI
    // carries host names only.
    named = X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) == 1;
  } else {
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set1_host(ssl_.get(), host.c_str()) == 1 &&
            SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) == 1;
  }
  if (!named) throw std::runtime_error("cannot check certificates for host " + host);
  SSL_set_connect_state(ssl_.get());
}

TlsSession::~TlsSession() = default;

TlsSession::Step TlsSession::Classify(int result) {
  const int error = SSL_get_error(ssl_.get(), result);
  switch (error) {
    case SSL_ERROR_WANT_READ: return Step::kWantRead;
    case SSL_ERROR_WANT_WRITE: return Step::kWantWrite;
    case SSL_ERROR_ZERO_RETURN: return Step::kClosed;
    case SSL_ERROR_SYSCALL:
      system_error_ = errno;
      error_text_ = TakeOpenSslError();
      if (error_text_.empty() && (result == 0 || system_error_ == 0)) {
        // The server closed the connection without a word.
        system_error_ = 0;
        return Step::kClosed;
      }
      failed_ = true;
      return Step::kFailed;
    default:
      system_error_ = 0;
      error_text_ = TakeOpenSslError();
      failed_ = true;
      return Step::kFailed;
  }
}

TlsSession::Step TlsSession::Handshake() {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_.get());
  if (result == 1) {
    established_ = true;
    return Step::kDone;
  }
  const Step step = Classify(result);
  // A close in the middle of the handshake is a failed handshake.
  if (step == Step::kClosed) failed_ = true;
  return step;
}

TlsSession::Step TlsSession::Read(char* data, std::size_t size, std::size_t& count) {
  ERR_clear_error();
  const int result = SSL_read(ssl_.get(), data, ClampedLength(size));
  if (result > 0) {
    count = static_cast<std::size_t>(result);
    return Step::kDone;
  }
  return Classify(result);
}

TlsSession::Step TlsSession::Write(const char* data, std::size_t size, std::size_t& count) {
  ERR_clear_error();
  const int result = SSL_write(ssl_.get(), data, ClampedLength(size));
  if (result > 0) {
    count = static_cast<std::size_t>(result);
    return Step::kDone;
  }
  return Classify(result);
}

bool TlsSession::HasPending() const { return SSL_has_pending(ssl_.get()) == 1; }

void TlsSession::Shutdown() {
  if (!established_ || failed_) return;
  ERR_clear_error();
  SSL_shutdown(ssl_.get());
  ERR_clear_error();
}

bool TlsSession::CertificateRefused() const {
  return SSL_get_verify_result(ssl_.get()) != X509_V_OK;
}

std::string TlsSession::FailureText() const {
  const long verify = SSL_get_verify_result(ssl_.get());
  if (verify != X509_V_OK) {
    return "The certificate of " + host_ + " was not accepted: " +
           X509_verify_cert_error_string(verify);
  }
  std::string reason = error_text_;
  if (reason.empty()) {
    reason = system_error_ != 0 ? std::string(std::strerror(system_error_))
                                : "the server closed the connection";
  }
  return "The TLS handshake with " + host_ + " failed: " + reason;
}

std::string TlsSession::ProtocolName() const { return SSL_get_version(ssl_.get()); }

std::string TlsSession::CipherName() const {
  const char* name = SSL_get_cipher_name(ssl_.get());
  return name != nullptr ? name : "";
}

}  // namespace quillon
