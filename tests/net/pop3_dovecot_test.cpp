// TmsRemotePOP against a real Dovecot on loopback: login, statistics,
// headers, downloads byte for byte, deletion on QUIT, and no deletion when
// the connection ends without QUIT.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/pop3_client.h"
#include "platform/message_pump.h"
#include "tests/support/dovecot_server.h"

namespace quillon {
namespace {

using test::DovecotServer;

std::string Message(int number, std::size_t body_lines) {
  std::string text = "From: sender@example.org\r\nTo: joe@example.org\r\n"
                     "Subject: message " + std::to_string(number) + "\r\n"
                     "Message-ID: <" + std::to_string(number) + "@example.org>\r\n\r\n";
  for (std::size_t i = 0; i < body_lines; ++i) text += "body line " + std::to_string(i) + "\r\n";
  text += ".a line that begins with a dot\r\n";
  return text;
}

// What RETR yields for a stored message: dot-stuffed, ended by ".".
std::string AsRetrieved(const std::string& stored) {
  std::string data;
  std::size_t start = 0;
  while (start < stored.size()) {
    std::size_t end = stored.find('\n', start);
    end = end == std::string::npos ? stored.size() : end + 1;
    if (stored[start] == '.') data += '.';
    data.append(stored, start, end - start);
    start = end;
  }
  return data + ".\r\n";
}

class Pop3Dovecot : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not available";
    dovecot = std::make_unique<DovecotServer>();
    messages = {Message(1, 3), Message(2, 2000), Message(3, 1)};
    for (const std::string& message : messages) dovecot->Deliver("joe", message);
  }
  void Configure(TmsRemotePOP& pop, const std::string& password = "secret") {
    pop.SetServer(dovecot->Pop3Address());
    pop.SetUserName("joe");
    pop.SetPassword(password);
    pop.SetTimeOut(20);
  }
  std::unique_ptr<DovecotServer> dovecot;
  std::vector<std::string> messages;
};

TEST_F(Pop3Dovecot, ListsFetchesAndDeletesRealMail) {
  TmsRemotePOP pop;
  Configure(pop);
  std::vector<std::string> downloaded(messages.size());
  pop.OnUserMessageSave = [&](TagSocket&, int num, TMemoryStream& contents) {
    downloaded.at(static_cast<std::size_t>(num)) = contents.Data();
  };
  pop.Connect();
  ASSERT_EQ(pop.MessageCount(), 3);
  int total = 0;
  for (const std::string& message : messages) total += static_cast<int>(message.size());
  EXPECT_EQ(pop.TotalSize(), total);

  TmsRemoteInfoItem info;
  pop.GetInfo(1, info);
  EXPECT_EQ(info.Size(), static_cast<int>(messages[1].size()));
  EXPECT_EQ(info.Headers().GetFieldValue("Subject"), "message 2");
  EXPECT_EQ(info.Headers().GetFieldValue("Message-ID"), "<2@example.org>");

  for (int i = 0; i < 3; ++i) {
    pop.Retrieve(i);
    EXPECT_EQ(pop.CurrentMessageSize(), static_cast<int>(messages[static_cast<std::size_t>(i)].size()));
    EXPECT_EQ(downloaded[static_cast<std::size_t>(i)],
              AsRetrieved(messages[static_cast<std::size_t>(i)]));
  }
  pop.Delete(0);
  pop.Delete(2);
  pop.Disconnect();
  EXPECT_EQ(dovecot->CountMessages("joe"), 1);

  // The one left is message 2, now first.
  pop.Connect();
  EXPECT_EQ(pop.MessageCount(), 1);
  pop.GetInfo(0, info);
  EXPECT_EQ(info.Headers().GetFieldValue("Subject"), "message 2");
  pop.Disconnect();
}

TEST_F(Pop3Dovecot, ConnectionClosedWithoutQuitLeavesTheMessages) {
  TmsRemotePOP pop;
  Configure(pop);
  pop.Connect();
  pop.Delete(0);
  pop.Delete(1);
  pop.Close();  // no QUIT: the marks are undone
  EXPECT_EQ(dovecot->CountMessages("joe"), 3);
}

TEST_F(Pop3Dovecot, CancelledConnectionLeavesTheMessages) {
  TmsRemotePOP pop;
  Configure(pop);
  pop.Connect();
  pop.Delete(0);
  // As a Cancel button would: it runs inside the next wait of Retrieve.
  pop.OnRetrieving = [&](TagSocket&, int) { CurrentPump().Post([&] { pop.Cancel(); }); };
  pop.OnUserMessageSave = [](TagSocket&, int, TMemoryStream&) {};
  EXPECT_THROW(pop.Retrieve(1), ECanceledError);
  EXPECT_FALSE(pop.Connected());
  EXPECT_EQ(dovecot->CountMessages("joe"), 3);
}

TEST_F(Pop3Dovecot, WrongPasswordIsTheServersRefusal) {
  TmsRemotePOP pop;
  Configure(pop, "wrong-password");
  std::vector<std::string> errors;
  pop.OnError = [&](TagSocket&, std::string& msg) { errors.push_back(msg); };
  try {
    pop.Connect();
    FAIL() << "logged in";
  } catch (const EServerError& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("-ERR", 0), 0u) << text;
    EXPECT_EQ(text.find("wrong-password"), std::string::npos);
  }
  EXPECT_TRUE(errors.empty());
  pop.Close();
}

}  // namespace
}  // namespace quillon
