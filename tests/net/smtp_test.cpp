// TmsSMTP against scripted SMTP dialogues: greeting and both HELO forms,
// multi-line replies, the envelope rules, rejected recipients, the data
// phase with its transparency dots, and the failures before sending.
#include "net/smtp_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/mail_errors.h"
#include "net/dot_stuffing.h"
#include "net/net_errors.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::Script;
using test::ScriptedServer;

// Keeps what SaveToStream wrote, to compare with what the server got.
class RecordingMessage : public TmsMessage {
 public:
  void SaveToStream(TStream& stream) override {
    const std::int64_t start = stream.Size();
    TmsMessage::SaveToStream(stream);
    encoded = stream.ReadAll().substr(static_cast<std::size_t>(start));
  }
  std::string encoded;
};

constexpr char kGreeting[] = "S: 220 sink ready\nC~ HELO \nS: 250 hello\n";

class SmtpClient : public ::testing::Test {
 protected:
  SmtpClient() {
    message.Sender().SetAddress("me@example.org");
    message.Recipients().AddAddress("to@example.org", "To Person");
    message.SetSubject("test");
    message.Body() = TStringList{"first", ".leading dot", ".", "last"};
    smtp.SetMailMessage(&message);
    smtp.OnError = [this](TagSocket&, std::string& msg) { events.push_back("Error " + msg); };
    smtp.OnPrepare = [this](TagSocket&) { events.push_back("Prepare"); };
    smtp.OnSending = [this](TagSocket&) { events.push_back("Sending"); };
    smtp.OnMailSent = [this](TagSocket&) { events.push_back("MailSent"); };
  }
  void ConnectTo(const ScriptedServer& server) {
    smtp.SetServer(server.Address());
    smtp.Connect();
  }
  RecordingMessage message;
  TmsSMTP smtp;
  std::vector<std::string> events;
};

TEST_F(SmtpClient, SendsEnvelopeAndTransparentData) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to@example.org>\nS: 250 ok\n"
                        "C: DATA\nS: 354 go ahead\nD\nS: 250 queued\n"
                        "C: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  smtp.Send();
  smtp.Disconnect();
  ASSERT_EQ(server.Finish(), "");
  EXPECT_EQ(events, (std::vector<std::string>{"Prepare", "Sending", "MailSent"}));
  ASSERT_EQ(server.DataBlocks().size(), 1u);
  bool at_line_start = true;
  // The text, an empty line (also after a final line break) and ".".
  EXPECT_EQ(server.DataBlocks()[0], DotStuff(message.encoded, at_line_start) + "\r\n.\r\n");
  EXPECT_NE(server.DataBlocks()[0].find("\r\n..leading dot\r\n"), std::string::npos);
}

TEST_F(SmtpClient, BareHeloAfterARefusedGreetingWithName) {
  ScriptedServer server("S: 220 ready\nC~ HELO \nS: 500 who are you\nC: HELO\nS: 250 ok\n"
                        "C: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  smtp.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(server.Transcript()[1], "C: HELO " + smtp.LocalHostName());
}

TEST_F(SmtpClient, BothHeloFormsRefusedIsAServerError) {
  ScriptedServer server("S: 220 ready\nC~ HELO \nS: 500 no\nC: HELO\nS: 501 still no\n");
  smtp.SetServer(server.Address());
  try {
    smtp.Connect();
    FAIL();
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "501 still no");
  }
  EXPECT_TRUE(events.empty());  // a server refusal fires no OnError
}

TEST_F(SmtpClient, MultiLineRepliesUseFirstCodeAndLastLine) {
  ScriptedServer server("S: 220-welcome\nS: 220-to the\nS: 220 sink\nC~ HELO \n"
                        "S: 250-sink\nS: 250-SIZE 100\nS: 250 HELP\n"
                        "C: MAIL FROM:<me@example.org>\nS: 550-not you\nS: 550 really not\n");
  ConnectTo(server);
  try {
    smtp.Send();
    FAIL();
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "550 really not");
  }
  EXPECT_TRUE(smtp.Connected());  // the caller ends the connection
}

TEST_F(SmtpClient, RecipientsThenCcThenBccInListOrder) {
  message.Recipients().AddAddress("to2@example.org", "");
  message.CC().AddAddress("cc@example.org", "Cc");
  message.BCC().AddAddress("bcc@example.org", "Bcc");
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to2@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<cc@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<bcc@example.org>\nS: 250 ok\n"
                        "C: DATA\nS: 354 go\nD\nS: 250 ok\n");
  ConnectTo(server);
  smtp.Send();
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(SmtpClient, BccOnlyMessageHasOneRecipient) {
  message.Recipients().Clear();
  message.BCC().AddAddress("hidden@example.org", "");
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<hidden@example.org>\nS: 250 ok\n"
                        "C: DATA\nS: 354 go\nD\nS: 250 ok\n");
  ConnectTo(server);
  smtp.Send();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(server.DataBlocks()[0].find("hidden@example.org"), std::string::npos);
}

TEST_F(SmtpClient, EnvelopeRecipientsReplaceTheMessageLists) {
  smtp.EnvelopeRecipients().push_back("other@example.org");
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<other@example.org>\nS: 250 ok\n"
                        "C: DATA\nS: 354 go\nD\nS: 250 ok\n");
  ConnectTo(server);
  smtp.Send();
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(SmtpClient, RejectedRecipientWithProceedGoesOn) {
  message.CC().AddAddress("cc@example.org", "");
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to@example.org>\nS: 550 no such user\n"
                        "C: RCPT TO:<cc@example.org>\nS: 250 ok\n"
                        "C: DATA\nS: 354 go\nD\nS: 250 ok\n");
  ConnectTo(server);
  std::vector<std::string> rejected;
  smtp.OnAddressRejected = [&](TagSocket&, const std::string& address,
                               const std::string& reply, bool& proceed) {
    EXPECT_FALSE(proceed);
    rejected.push_back(address + " | " + reply);
    proceed = true;
  };
  smtp.Send();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(rejected, (std::vector<std::string>{"to@example.org | 550 no such user"}));
  EXPECT_EQ(events.back(), "MailSent");
}

TEST_F(SmtpClient, RejectedRecipientWithoutProceedIsAServerError) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to@example.org>\nS: 550 no such user\n");
  ConnectTo(server);
  int calls = 0;
  smtp.OnAddressRejected = [&](TagSocket&, const std::string&, const std::string&,
                               bool&) { ++calls; };
  try {
    smtp.Send();
    FAIL();
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "550 no such user");
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(SmtpClient, RejectedRecipientWithoutHandlerIsAServerError) {
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                        "C: RCPT TO:<to@example.org>\nS: 553 bad\n");
  ConnectTo(server);
  EXPECT_THROW(smtp.Send(), EServerError);
}

TEST_F(SmtpClient, RefusedDataAndRefusedEndOfData) {
  ScriptedServer refused_data(std::string(kGreeting) +
                              "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                              "C: RCPT TO:<to@example.org>\nS: 250 ok\n"
                              "C: DATA\nS: 250 not what you wanted\n");
  ConnectTo(refused_data);
  EXPECT_THROW(smtp.Send(), EServerError);
  smtp.Close();

  ScriptedServer refused_end(std::string(kGreeting) +
                             "C: MAIL FROM:<me@example.org>\nS: 250 ok\n"
                             "C: RCPT TO:<to@example.org>\nS: 250 ok\n"
                             "C: DATA\nS: 354 go\nD\nS: 554 spam\n");
  ConnectTo(refused_end);
  try {
    smtp.Send();
    FAIL();
  } catch (const EServerError& error) {
    EXPECT_STREQ(error.what(), "554 spam");
  }
  EXPECT_NE(events.back(), "MailSent");
}

TEST_F(SmtpClient, EmptySenderIsRefusedBeforeAnythingIsSent) {
  ScriptedServer server(std::string(kGreeting) + "C: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  message.Sender().SetAddress("");
  EXPECT_THROW(smtp.Send(), EMessageError);
  smtp.Disconnect();  // QUIT is the next thing the server sees
  EXPECT_EQ(server.Finish(), "");
  EXPECT_TRUE(events.empty());
}

TEST_F(SmtpClient, MissingMessageOrServerAreNumberedErrors) {
  smtp.SetMailMessage(nullptr);
  try {
    smtp.Send();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "MailMessage property must be assigned");
  }
  bool opened = false;
  smtp.OnOpen = [&](TagSocket&) { opened = true; };
  try {
    smtp.Connect();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Server property is required");
  }
  EXPECT_FALSE(opened);
  EXPECT_EQ(events, (std::vector<std::string>{"Error MailMessage property must be assigned",
                                              "Error Server property is required"}));
}

TEST_F(SmtpClient, SendWithoutConnectionNeedsOne) {
  try {
    smtp.Send();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "You have to connect to the server first");
  }
}

TEST_F(SmtpClient, RefusedQuit) {
  ScriptedServer server(std::string(kGreeting) + "C: QUIT\nS: 500 what\n");
  ConnectTo(server);
  EXPECT_THROW(smtp.Disconnect(), EServerError);
  EXPECT_TRUE(smtp.Connected());
}


TEST_F(SmtpClient, AddressWithALineBreakCannotSmuggleACommand) {
  message.Recipients().Clear();
  message.Recipients().AddAddress("victim@example.org>\r\nRCPT TO:<attacker@example.org", "");
  ScriptedServer server(std::string(kGreeting) +
                        "C: MAIL FROM:<me@example.org>\nS: 250 ok\nC: QUIT\nS: 221 bye\n");
  ConnectTo(server);
  try {
    smtp.Send();
    FAIL() << "sent";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Command contains a line break");
  }
  smtp.Disconnect();  // the next line the server sees is QUIT
  EXPECT_EQ(server.Finish(), "");
}

struct StuffCase {
  const char* name;
  const char* text;
  const char* stuffed;
};

class DotStuffing : public ::testing::TestWithParam<StuffCase> {};

TEST_P(DotStuffing, DoublesLeadingDotsInEverySplit) {
  const std::string text = GetParam().text;
  for (std::size_t split = 0; split <= text.size(); ++split) {
    bool at_line_start = true;
    std::string out = DotStuff(std::string_view(text).substr(0, split), at_line_start);
    out += DotStuff(std::string_view(text).substr(split), at_line_start);
    EXPECT_EQ(out, GetParam().stuffed) << "split at " << split;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DotStuffing,
    ::testing::Values(StuffCase{"NoDots", "a\r\nb\r\n", "a\r\nb\r\n"},
                      StuffCase{"FirstLine", ".a\r\n", "..a\r\n"},
                      StuffCase{"LoneDotLine", "a\r\n.\r\nb", "a\r\n..\r\nb"},
                      StuffCase{"DotInsideLine", "a.b\r\n", "a.b\r\n"},
                      StuffCase{"AfterBareLf", "a\n.b", "a\n..b"},
                      StuffCase{"AlreadyDoubled", "..x\r\n", "...x\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillon
