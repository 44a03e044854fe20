// A private Dovecot for integration tests: POP3 and IMAP listeners on free
// loopback ports, passwd-file users with plain passwords, Maildir mail in a
// temporary directory that goes away with the server. Started with its own
// configuration (never the system service) and stopped by the PID in its
// base_dir/master.pid.
//
//   DovecotServer dovecot({{"joe", "secret"}});
//   dovecot.Deliver("joe", "Subject: hi\r\n\r\nbody\r\n");
//   pop.SetServer(dovecot.Pop3Address());  ...
//   EXPECT_EQ(dovecot.CountMessages("joe"), 0);
//
// With a certificate (DovecotServer::Tls) the server wants encryption
// (ssl = required): POP3S and IMAPS listeners, and STARTTLS on the plain
// ones. Dovecot counts a loopback client as secure, so a client there may
// still log in in clear text: tests that must show no password went out
// read the log (LogText) or the client's trace.
//
// Tests call DovecotServer::Available() first and skip when Dovecot is not
// installed.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

class DovecotServer {
 public:
  struct User {
    std::string name;
    std::string password;
  };

  struct Tls {
    std::string certificate_file;  // PEM, the server's certificate
    std::string key_file;          // PEM, its private key
  };

  // Starts Dovecot and waits until its listeners accept connections.
  // Throws std::runtime_error (with the end of Dovecot's log) on failure.
  explicit DovecotServer(std::vector<User> users = {{"joe", "secret"}},
                         std::optional<Tls> tls = std::nullopt);
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  // Dovecot's binaries are installed and this process may run them (root).
  static bool Available();

  int Pop3Port() const { return pop3_port_; }
  int ImapPort() const { return imap_port_; }
  std::string Pop3Address() const;  // "127.0.0.1:PORT"
  std::string ImapAddress() const;
  // TLS from the first byte; 0 and "" without a certificate.
  int Pop3sPort() const { return pop3s_port_; }
  int ImapsPort() const { return imaps_port_; }
  std::string Pop3sAddress() const;
  std::string ImapsAddress() const;

  // Puts `raw_message` (bytes as stored, CR LF or LF line ends) into the
  // user's INBOX as a new Maildir message. Messages appear on the server in
  // the order they were delivered. Returns the file's path.
  std::string Deliver(const std::string& user, const std::string& raw_message);
  // Messages in the user's INBOX, as Dovecot counts them (doveadm).
  int CountMessages(const std::string& user) const;
  std::string MaildirPath(const std::string& user) const;
  std::string ConfigPath() const { return root_ + "/dovecot.conf"; }
  // Dovecot's log so far (for failure messages).
  std::string LogText() const;

 private:
  void WriteConfiguration(const std::vector<User>& users);
  std::string TlsConfiguration() const;
  std::vector<int> ListeningPorts() const;
  void Start();
  void Stop();
  void PrepareMaildir(const std::string& user) const;

  std::string root_;
  int pop3_port_ = 0;
  int imap_port_ = 0;
  int pop3s_port_ = 0;
  int imaps_port_ = 0;
  std::optional<Tls> tls_;
  int delivered_ = 0;
  pid_t master_pid_ = -1;
};

}  // namespace quillon::test
