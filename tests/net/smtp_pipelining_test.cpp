// TmsSMTP with a server whose EHLO answer lists PIPELINING: the envelope
// (MAIL FROM, every RCPT TO, DATA) goes out as one group, the replies are
// checked in order, and refusals end the send as they do without it. The
// scripts expect the whole group before answering any of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::ScriptedServer;
using Lines = std::vector<std::string>;

constexpr char kEhlo[] =
    "S: 220 sink ready\n"
    "C~ EHLO \n"
    "S: 250-sink.example.org\n"
    "S: 250-SIZE 1000000\n"
    "S: 250 PIPELINING\n";

constexpr char kGroup[] =
    "C: MAIL FROM:<me@example.org>\n"
    "C: RCPT TO:<to@example.org>\n"
    "C: RCPT TO:<cc@example.org>\n"
    "C: DATA\n";

class SmtpPipelining : public ::testing::Test {
 protected:
  SmtpPipelining() {
    message.Sender().SetAddress("me@example.org");
    message.Recipients().AddAddress("to@example.org", "To Person");
    message.CC().AddAddress("cc@example.org", "");
    message.SetSubject("test");
    message.Body() = TStringList{"hello"};
    smtp.SetMailMessage(&message);
    smtp.SetPipeliningAllowed(true);
    smtp.SetTimeOut(10);
    smtp.OnSending = [this](TagSocket&) { events.push_back("Sending"); };
    smtp.OnMailSent = [this](TagSocket&) { events.push_back("MailSent"); };
    smtp.OnAddressRejected = [this](TagSocket&, const std::string& address,
                                    const std::string& reply, bool& proceed) {
      events.push_back("Rejected " + address + " " + reply);
      proceed = proceed_after_rejection;
    };
  }
  void ConnectTo(const ScriptedServer& server) {
    smtp.SetServer(server.Address());
    smtp.Connect();
  }

  TmsMessage message;
  TmsSMTP smtp;
  Lines events;
  bool proceed_after_rejection = false;
};

TEST_F(SmtpPipelining, EnvelopeGoesAsOneGroupAndTheMessageFollows) {
  ScriptedServer server(std::string(kEhlo) + kGroup +
                        "S: 250 sender ok\nS: 250 ok\nS: 250 ok\nS: 354 go ahead\nD\n"
                        "S: 250 queued\nC: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  EXPECT_TRUE(smtp.ServerPipelining());
  smtp.Send();
  smtp.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(events, (Lines{"Sending", "MailSent"}));
  ASSERT_EQ(server.DataBlocks().size(), 1u);
}

TEST_F(SmtpPipelining, RefusedRecipientWithProceedStillSends) {
  proceed_after_rejection = true;
  ScriptedServer server(std::string(kEhlo) + kGroup +
                        "S: 250 sender ok\nS: 550 no such user\nS: 250 ok\nS: 354 go ahead\nD\n"
                        "S: 250 queued\n");
  ConnectTo(server);
  smtp.Send();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(events, (Lines{"Sending", "Rejected to@example.org 550 no such user", "MailSent"}));
}

TEST_F(SmtpPipelining, RefusalAfterAnAcceptedDataSendsNoMessage) {
  // DATA was accepted for the second recipient, but the first one's
  // refusal ends the send: the connection closes without the message.
  ScriptedServer server(std::string(kEhlo) + kGroup +
                        "S: 250 sender ok\nS: 550 no such user\nS: 250 ok\nS: 354 go ahead\nH\n");
  ConnectTo(server);
  try {
    smtp.Send();
    ADD_FAILURE() << "the refusal did not end the send";
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "550 no such user");
  }
  EXPECT_FALSE(smtp.Connected());
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(server.DataBlocks().empty());
  EXPECT_EQ(events, (Lines{"Sending", "Rejected to@example.org 550 no such user"}));
}

TEST_F(SmtpPipelining, RefusedSenderIsTheErrorAndNoRecipientIsReported) {
  ScriptedServer server(std::string(kEhlo) + kGroup +
                        "S: 553 sender refused\nS: 503 need MAIL\nS: 503 need MAIL\n"
                        "S: 503 need RCPT\nC: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  try {
    smtp.Send();
    ADD_FAILURE() << "the refused sender did not end the send";
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "553 sender refused");
  }
  // Nothing waits for data: the connection stays usable.
  smtp.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(events, (Lines{"Sending"}));
}

TEST_F(SmtpPipelining, WithoutPipeliningOrWithoutEhloOneCommandAtATime) {
  ScriptedServer plain(
      "S: 220 ready\nC~ EHLO \nS: 250-old.example.org\nS: 250 8BITMIME\n"
      "C: MAIL FROM:<me@example.org>\nS: 250 ok\nC: RCPT TO:<to@example.org>\nS: 250 ok\n"
      "C: RCPT TO:<cc@example.org>\nS: 250 ok\nC: DATA\nS: 354 go\nD\nS: 250 queued\n");
  ConnectTo(plain);
  EXPECT_FALSE(smtp.ServerPipelining());
  smtp.Send();
  EXPECT_EQ(plain.Finish(), "");

  TmsSMTP old;
  old.SetPipeliningAllowed(true);
  ScriptedServer no_ehlo("S: 220 ready\nC~ EHLO \nS: 500 what\nC~ HELO \nS: 250 hi\n"
                         "C: QUIT\nS: 221 bye\n");
  old.SetServer(no_ehlo.Address());
  old.Connect();
  old.Disconnect();
  EXPECT_EQ(no_ehlo.Finish(), "");
}

}  // namespace
}  // namespace quillon
