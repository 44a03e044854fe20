// TmsSMTP sending its envelope as one group to aiosmtpd through a loopback
// proxy that delays each direction: the replies to MAIL FROM, every RCPT TO
// and DATA come back bunched or split as the link has it, and each must
// still be matched to its own command.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/smtp_client.h"
#include "tests/support/latency_proxy.h"
#include "tests/support/smtp_sink.h"

namespace quillon {
namespace {

using test::LatencyProxy;
using test::SmtpSink;
using Lines = std::vector<std::string>;

TEST(SmtpThroughDelay, GroupedRepliesForSeveralRecipientsAreMatchedInOrder) {
  if (!SmtpSink::Available() || !LatencyProxy::Available()) {
    GTEST_SKIP() << "aiosmtpd or python3 is not available";
  }
  SmtpSink sink(std::nullopt, true);
  LatencyProxy proxy(sink.Address(), 10);
  TmsMessage message;
  message.Sender().SetAddress("me@example.org");
  message.Recipients().AddAddress("to@example.org", "To");
  message.Recipients().AddAddress("reject-one@example.org", "");
  message.CC().AddAddress("cc@example.org", "");
  message.BCC().AddAddress("hidden@example.org", "");
  message.SetSubject("several");
  message.Body() = TStringList{"hello", ".dot"};
  TmsSMTP smtp;
  smtp.SetServer(proxy.Address());
  smtp.SetTimeOut(20);
  smtp.SetMailMessage(&message);
  smtp.SetPipeliningAllowed(true);
  Lines rejected;
  smtp.OnAddressRejected = [&](TagSocket&, const std::string& address,
                               const std::string& reply, bool& proceed) {
    rejected.push_back(address + " " + reply.substr(0, 3));
    proceed = true;
  };
  Lines trace;
  smtp.OnTrace = [&](const std::string& line) { trace.push_back(line); };

  smtp.Connect();
  smtp.Send();
  smtp.Disconnect();

  EXPECT_TRUE(smtp.ServerPipelining());
  EXPECT_EQ(rejected, Lines{"reject-one@example.org 550"});
  const auto messages = sink.WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].mail_from, "me@example.org");
  EXPECT_EQ(messages[0].recipients,
            (Lines{"to@example.org", "cc@example.org", "hidden@example.org"}));
  EXPECT_NE(messages[0].data.find("\r\n.dot\r\n"), std::string::npos);
  // The envelope went out as one group before any reply was read.
  const Lines group{"C: MAIL FROM:<me@example.org>", "C: RCPT TO:<to@example.org>",
                    "C: RCPT TO:<reject-one@example.org>", "C: RCPT TO:<cc@example.org>",
                    "C: RCPT TO:<hidden@example.org>", "C: DATA"};
  const auto first = std::find(trace.begin(), trace.end(), group.front());
  ASSERT_GE(trace.end() - first, static_cast<long>(group.size()));
  EXPECT_EQ(Lines(first, first + static_cast<long>(group.size())), group);
}

}  // namespace
}  // namespace quillon
