// TmsSMTP against a real SMTP server (aiosmtpd) on loopback: what the
// server stores is what the encoder produced, dots and all.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/net_errors.h"
#include "net/smtp_client.h"
#include "tests/support/smtp_sink.h"

namespace quillon {
namespace {

using test::SmtpSink;

class RecordingMessage : public TmsMessage {
 public:
  void SaveToStream(TStream& stream) override {
    TmsMessage::SaveToStream(stream);
    encoded = stream.ReadAll();
  }
  std::string encoded;
};

class SmtpAiosmtpd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SmtpSink::Available()) GTEST_SKIP() << "aiosmtpd is not available";
    sink = std::make_unique<SmtpSink>();
    message.Sender().SetAddress("me@example.org");
    message.Recipients().AddAddress("to@example.org", "To");
    message.SetSubject("dots");
    message.Body() = TStringList{".", "..", ".starts with a dot", "middle . dot", "."};
    smtp.SetServer(sink->Address());
    smtp.SetTimeOut(20);
    smtp.SetMailMessage(&message);
  }
  std::unique_ptr<SmtpSink> sink;
  RecordingMessage message;
  TmsSMTP smtp;
};

TEST_F(SmtpAiosmtpd, ServerStoresExactlyTheEncodedMessage) {
  smtp.Connect();
  smtp.Send();
  smtp.Disconnect();
  const auto messages = sink->WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].mail_from, "me@example.org");
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"to@example.org"}));
  // The empty line sent after the text is part of the data.
  EXPECT_EQ(messages[0].data, message.encoded + "\r\n");
}

TEST_F(SmtpAiosmtpd, RejectedRecipientWithProceedStillDelivers) {
  message.Recipients().AddAddress("reject-me@example.org", "");
  message.BCC().AddAddress("hidden@example.org", "");
  std::string rejected;
  smtp.OnAddressRejected = [&](TagSocket&, const std::string& address, const std::string&,
                               bool& proceed) {
    rejected = address;
    proceed = true;
  };
  smtp.Connect();
  smtp.Send();
  smtp.Disconnect();
  EXPECT_EQ(rejected, "reject-me@example.org");
  const auto messages = sink->WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].recipients,
            (std::vector<std::string>{"to@example.org", "hidden@example.org"}));
  EXPECT_EQ(messages[0].data.find("hidden@example.org"), std::string::npos);
}

TEST_F(SmtpAiosmtpd, RejectedRecipientWithoutHandlerStopsTheSend) {
  message.Recipients().Clear();
  message.Recipients().AddAddress("reject@example.org", "");
  smtp.Connect();
  try {
    smtp.Send();
    FAIL();
  } catch (const EServerError& error) {
    EXPECT_EQ(std::string(error.what()).substr(0, 3), "550");
  }
  smtp.Disconnect();
  EXPECT_TRUE(sink->Messages().empty());
}

}  // namespace
}  // namespace quillon
