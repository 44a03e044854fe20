// An SMTP server for integration tests: Python's aiosmtpd (smtp_sink.py)
// on a free loopback port, storing every message it accepts. Recipients
// whose local part begins with "reject" are refused with 550.
//
//   SmtpSink sink;
//   smtp.SetServer(sink.Address());  ... send ...
//   auto messages = sink.WaitForMessages(1);
//   EXPECT_EQ(messages[0].data, expected_bytes);
//
// Tests call SmtpSink::Available() first and skip when aiosmtpd is missing.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

class SmtpSink {
 public:
  struct Message {
    std::string mail_from;
    std::vector<std::string> recipients;
    // The data as the server stored it: transparency dots removed, the
    // final "." line not included.
    std::string data;
    // The TLS version ("TLSv1.3") when the message came encrypted.
    std::string tls_version;
  };

  struct Tls {
    // "starttls" (offered), "require-starttls" (no mail before it), "tls"
    // (from the first byte), "tls-1.2" (as "tls", TLS 1.2 at most).
    std::string mode;
    std::string certificate_file;
    std::string key_file;
  };

  // Starts the server and waits until it listens; throws std::runtime_error
  // when it does not come up. With `pipelining` its EHLO reply lists
  // PIPELINING.
  explicit SmtpSink(std::optional<Tls> tls = std::nullopt, bool pipelining = false);
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  static bool Available();

  int Port() const { return port_; }
  std::string Address() const;  // "127.0.0.1:PORT"

  // The messages stored so far, in the order they arrived.
  std::vector<Message> Messages() const;
  // Waits (bounded by `limit`) until at least `count` messages are stored.
  std::vector<Message> WaitForMessages(
      std::size_t count, std::chrono::seconds limit = std::chrono::seconds(20)) const;

 private:
  std::string directory_;
  pid_t child_ = -1;
  int port_ = 0;
};

}  // namespace quillon::test
