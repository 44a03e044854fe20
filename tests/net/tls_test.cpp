// Encrypted connections: POP3, IMAP4 and SMTP over TLS from the first byte
// and after STARTTLS against Dovecot (ssl = required) and aiosmtpd with
// certificates of a private CA; refused certificates and a missing
// STARTTLS end the connection before any password goes out; time-out and
// Cancel work while a handshake waits.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mail/message.h"
#include "net/imap_client.h"
#include "net/net_errors.h"
#include "net/pop3_client.h"
#include "net/smtp_client.h"
#include "platform/message_pump.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_certificates.h"

namespace quillon {
namespace {

using test::DovecotServer;
using test::ScriptedServer;
using test::SmtpSink;
using test::TestCertificate;
using test::TestCertificates;

constexpr char kStoredMessage[] =
    "From: sender@example.org\r\nTo: joe@example.org\r\nSubject: sealed\r\n"
    "Message-ID: <sealed@example.org>\r\n\r\n.dot line\r\nbody\r\n";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every line the client sent, as its trace shows them.
struct SentLines {
  void Watch(TagSocket& client) {
    client.OnTrace = [this](const std::string& line) {
      // Commands, not the traces of literal bytes ("<n bytes of data>").
      if (line.starts_with("C: ") && !line.starts_with("C: <")) lines += line.substr(3) + "\n";
    };
  }
  std::string lines;
};

// Dovecot writes its log through a process of its own: a line may come a
// moment after the client saw the end.
std::vector<std::string> LogLinesWith(const DovecotServer& dovecot, const std::string& text) {
  std::vector<std::string> lines;
  const std::string log = dovecot.LogText();
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
    const std::size_t start = log.rfind('\n', at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    lines.push_back(log.substr(begin, log.find('\n', at) - begin));
  }
  return lines;
}

// The log has a line with `text` about a connection that ended during the
// TLS handshake, before any login was tried.
bool LogShows(const DovecotServer& dovecot, const std::string& text) {
  const auto during_handshake = [&] {
    for (const std::string& line : LogLinesWith(dovecot, text)) {
      if (Contains(line, "TLS handshaking") && Contains(line, "no auth attempts")) return true;
    }
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!during_handshake()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool TlsToolsAvailable() {
  return DovecotServer::Available() && TestCertificates::Available();
}

std::unique_ptr<DovecotServer> StartDovecot(const TestCertificate& certificate) {
  auto dovecot = std::make_unique<DovecotServer>(
      std::vector<DovecotServer::User>{{"joe", "secret"}},
      DovecotServer::Tls{certificate.certificate_file, certificate.key_file});
  dovecot->Deliver("joe", kStoredMessage);
  return dovecot;
}

void Configure(TmsRemotePOP& pop, const std::string& server, TSecurity security,
               const std::string& ca_file) {
  pop.SetServer(server);
  pop.SetUserName("joe");
  pop.SetPassword("secret");
  pop.SetTimeOut(20);
  pop.SetSecurity(security);
  pop.SetCAFile(ca_file);
}

void Configure(TImap4Client& client, const std::string& server, TSecurity security,
               const std::string& ca_file) {
  client.SetServer(server);
  client.SetUserName("joe");
  client.SetPassword("secret");
  client.SetOpenAsReadOnly(false);
  client.SetTimeOut(20);
  client.SetSecurity(security);
  client.SetCAFile(ca_file);
}

// The clear error: names the host and why; OnError saw the same text.
void ExpectRefusal(TmsMailBase& client, const std::string& reason) {
  std::string reported;
  client.OnError = [&](TagSocket&, std::string& message) { reported = message; };
  try {
    client.Connect();
    ADD_FAILURE() << "connected although " << reason;
  } catch (const ETlsError& error) {
    EXPECT_TRUE(Contains(error.what(), "127.0.0.1")) << error.what();
    EXPECT_TRUE(Contains(error.what(), reason)) << error.what();
    EXPECT_EQ(reported, error.what());
  }
  EXPECT_FALSE(client.Connected());
}

// A client whose check refuses the server's certificate: it fails with the
// clear error, and the server saw the handshake fail and no login at all.
void ExpectRefusedBeforeLogin(const DovecotServer& dovecot, bool imap, TSecurity security,
                              const std::string& ca_file, const std::string& reason) {
  const std::size_t logins = LogLinesWith(dovecot, "Login: user=<joe>").size();
  SentLines sent;
  if (imap) {
    TImap4Client client;
    Configure(client, dovecot.ImapAddress(), security, ca_file);
    sent.Watch(client);
    ExpectRefusal(client, reason);
    EXPECT_EQ(sent.lines, "A0 CAPABILITY\nA1 STARTTLS\n");
  } else {
    TmsRemotePOP pop;
    const bool implicit = security == TSecurity::kTls;
    Configure(pop, implicit ? dovecot.Pop3sAddress() : dovecot.Pop3Address(), security,
              ca_file);
    sent.Watch(pop);
    ExpectRefusal(pop, reason);
    EXPECT_EQ(sent.lines, implicit ? "" : "STLS\n");
  }
  EXPECT_TRUE(LogShows(dovecot, "SSL_accept() failed")) << dovecot.LogText();
  EXPECT_EQ(LogLinesWith(dovecot, "Login: user=<joe>").size(), logins);
}

TEST(TlsDovecot, Pop3AndImapOverTlsAndStartTlsTrustOnlyTheGivenCa) {
  if (!TlsToolsAvailable()) GTEST_SKIP() << "Dovecot or openssl is not available";
  const TestCertificates& certificates = TestCertificates::Get();
  const auto dovecot = StartDovecot(certificates.Server());

  struct Pop3Case {
    std::string server;
    TSecurity security;
  };
  for (const Pop3Case& c : {Pop3Case{dovecot->Pop3sAddress(), TSecurity::kTls},
                            Pop3Case{dovecot->Pop3Address(), TSecurity::kStartTls}}) {
    SCOPED_TRACE(SecurityName(c.security));
    TmsRemotePOP pop;
    Configure(pop, c.server, c.security, certificates.CaFile());
    std::string downloaded;
    pop.OnUserMessageSave = [&](TagSocket&, int, TMemoryStream& contents) {
      downloaded = contents.Data();
    };
    pop.Connect();
    EXPECT_TRUE(pop.TlsActive());
    EXPECT_TRUE(pop.TlsProtocol().starts_with("TLSv1."));
    EXPECT_FALSE(pop.TlsCipher().empty());
    ASSERT_EQ(pop.MessageCount(), 1);
    pop.Retrieve(0);
    EXPECT_EQ(downloaded,
              "From: sender@example.org\r\nTo: joe@example.org\r\nSubject: sealed\r\n"
              "Message-ID: <sealed@example.org>\r\n\r\n..dot line\r\nbody\r\n.\r\n");
    pop.Disconnect();
  }

  for (const TSecurity security : {TSecurity::kTls, TSecurity::kStartTls}) {
    SCOPED_TRACE(SecurityName(security));
    TImap4Client client;
    TMailboxList mailboxes;
    client.SetAllMailboxes(&mailboxes);
    Configure(client, security == TSecurity::kTls ? dovecot->ImapsAddress()
                                                  : dovecot->ImapAddress(),
              security, certificates.CaFile());
    client.Connect();
    EXPECT_TRUE(client.TlsActive());
    EXPECT_FALSE(client.Capability().empty());
    client.SetMailBox("INBOX");
    EXPECT_EQ(client.ExistsCount(), 1);
    int retrieved = 0;
    client.OnRetrieved = [&](TagSocket&, int) { ++retrieved; };
    client.Fetch("1", "(RFC822)");
    EXPECT_EQ(retrieved, 1);
    client.Disconnect();
  }
  // A certificate from a CA the client does not trust.
  ExpectRefusedBeforeLogin(*dovecot, false, TSecurity::kStartTls, certificates.OtherCaFile(),
                           "unable to get local issuer certificate");

  // Every login went over an encrypted connection.
  const std::vector<std::string> logins = LogLinesWith(*dovecot, "Login: user=<joe>");
  EXPECT_EQ(logins.size(), 4u) << dovecot->LogText();
  for (const std::string& line : logins) EXPECT_TRUE(Contains(line, ", TLS")) << line;
}

TEST(TlsDovecot, ExpiredAndOtherHostCertificatesAreRefusedBeforeAnyPassword) {
  if (!TlsToolsAvailable()) GTEST_SKIP() << "Dovecot or openssl is not available";
  const TestCertificates& certificates = TestCertificates::Get();
  {
    SCOPED_TRACE("expired");
    const auto dovecot = StartDovecot(certificates.Expired());
    ExpectRefusedBeforeLogin(*dovecot, false, TSecurity::kTls, certificates.CaFile(),
                             "certificate has expired");
  }
  {
    SCOPED_TRACE("for another host");
    const auto dovecot = StartDovecot(certificates.OtherHost());
    ExpectRefusedBeforeLogin(*dovecot, true, TSecurity::kStartTls, certificates.CaFile(),
                             "IP address mismatch");
  }
}

TEST(TlsStartTls, ServerWithoutStartTlsGetsNoCredentials) {
  struct Case {
    const char* script;
    std::function<std::unique_ptr<TmsMailBase>()> make;
    const char* error;
  };
  const auto pop3 = [] {
    auto pop = std::make_unique<TmsRemotePOP>();
    pop->SetUserName("joe");
    pop->SetPassword("secret");
    return std::unique_ptr<TmsMailBase>(std::move(pop));
  };
  const auto imap = [] {
    auto client = std::make_unique<TImap4Client>();
    client->SetUserName("joe");
    client->SetPassword("secret");
    return std::unique_ptr<TmsMailBase>(std::move(client));
  };
  const auto smtp = [] { return std::unique_ptr<TmsMailBase>(std::make_unique<TmsSMTP>()); };
  for (const Case& c : {
           Case{"S: +OK ready\nC: STLS\nS: -ERR what?\nH\n", pop3, "did not accept STLS: -ERR"},
           Case{"S: * OK ready\nC: A0 CAPABILITY\nS: * CAPABILITY IMAP4rev1 AUTH=PLAIN\n"
                "S: A0 OK done\nH\n",
                imap, "does not offer STARTTLS"},
           Case{"S: * OK ready\nC: A0 CAPABILITY\nS: * CAPABILITY IMAP4rev1 STARTTLS\n"
                "S: A0 OK done\nC: A1 STARTTLS\nS: A1 NO not today\nH\n",
                imap, "did not accept STARTTLS: NO response"},
           Case{"S: 220 ready\nC~ EHLO \nS: 250-sink\nS: 250 SIZE 1000\nH\n", smtp,
                "does not offer STARTTLS"},
           Case{"S: 220 ready\nC~ EHLO \nS: 500 what?\nH\n", smtp, "does not offer STARTTLS"},
       }) {
    SCOPED_TRACE(c.script);
    ScriptedServer server(c.script);
    const std::unique_ptr<TmsMailBase> client = c.make();
    client->SetServer(server.Address());
    client->SetTimeOut(20);
    client->SetSecurity(TSecurity::kStartTls);
    SentLines sent;
    sent.Watch(*client);
    try {
      client->Connect();
      ADD_FAILURE() << "connected in clear text";
    } catch (const ETlsError& error) {
      EXPECT_TRUE(Contains(error.what(), c.error)) << error.what();
      EXPECT_TRUE(Contains(error.what(), "127.0.0.1")) << error.what();
    }
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(server.Finish(), "");
    for (const char* secret : {"USER", "PASS", "LOGIN", "MAIL FROM"}) {
      EXPECT_FALSE(Contains(sent.lines, secret)) << sent.lines;
    }
  }
}

TEST(TlsHandshake, TimeOutAndCancelWhileTheServerIsSilent) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancel" : "time-out");
    // Accepts the connection and never answers the client's hello.
    ScriptedServer server("H\n");
    TmsRemotePOP pop;
    Configure(pop, server.Address(), TSecurity::kTls, "");
    pop.SetTimeOut(cancel ? 20 : 1);
    std::vector<std::string> events;
    pop.OnCancel = [&](TagSocket&) { events.push_back("Cancel"); };
    pop.OnClosed = [&](TagSocket&) { events.push_back("Closed"); };
    pop.OnError = [&](TagSocket&, std::string& message) { events.push_back(message); };
    pop.OnTrace = [&](const std::string& line) {
      // As a Cancel button would: inside the handshake's wait.
      if (cancel && line.starts_with("-- TLS handshake")) {
        CurrentPump().Post([&] { pop.Cancel(); });
      }
    };
    if (cancel) {
      EXPECT_THROW(pop.Connect(), ECanceledError);
      EXPECT_EQ(events, (std::vector<std::string>{"Cancel", "Closed",
                                                  "Operation has been canceled"}));
    } else {
      EXPECT_THROW(pop.Connect(), ETimedOutError);
      EXPECT_EQ(events, (std::vector<std::string>{"Operation timed out", "Closed"}));
    }
    EXPECT_FALSE(pop.Connected());
  }
}

TEST(TlsSmtp, SendsAfterStartTlsAndOverTlsFromTheFirstByte) {
  if (!SmtpSink::Available() || !TestCertificates::Available()) {
    GTEST_SKIP() << "aiosmtpd or openssl is not available";
  }
  const TestCertificates& certificates = TestCertificates::Get();
  const TestCertificate certificate = certificates.Server();
  struct Case {
    const char* mode;
    TSecurity security;
  };
  // "require-starttls" refuses mail in clear text: what arrives came
  // encrypted.
  for (const Case& c : {Case{"require-starttls", TSecurity::kStartTls},
                        Case{"require-starttls", TSecurity::kOpportunistic},
                        Case{"tls", TSecurity::kTls}, Case{"tls-1.2", TSecurity::kTls}}) {
    SCOPED_TRACE(std::string(c.mode) + " " + SecurityName(c.security));
    SmtpSink sink(SmtpSink::Tls{c.mode, certificate.certificate_file, certificate.key_file});
    TmsMessage message;
    message.Sender().SetAddress("me@example.org");
    message.Recipients().AddAddress("to@example.org", "To");
    message.SetSubject("sealed");
    message.Body() = TStringList{"text"};
    TmsSMTP smtp;
    smtp.SetServer(sink.Address());
    smtp.SetTimeOut(20);
    smtp.SetMailMessage(&message);
    smtp.SetSecurity(c.security);
    smtp.SetCAFile(certificates.CaFile());
    smtp.Connect();
    EXPECT_TRUE(smtp.TlsActive());
    smtp.Send();
    smtp.Disconnect();
    const auto messages = sink.WaitForMessages(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].tls_version.starts_with("TLSv1.")) << messages[0].tls_version;
    EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"to@example.org"}));
  }
}

}  // namespace
}  // namespace quillon
