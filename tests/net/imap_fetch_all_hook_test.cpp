// FetchAll(keep = false) tells its owner just before it marks the delivered
// messages deleted, so what was made of them can be made safe first; a
// failing owner keeps every message on the server.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/imap_client.h"
#include "net/mailboxes.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::Script;
using test::ScriptedServer;

std::string Mail(int n) {
  return "From: ann@example.org\r\nSubject: Mail " + std::to_string(n) +
         "\r\n\r\nBody " + std::to_string(n) + ".\r\n";
}

Script FetchOfTwo() {
  Script script;
  script.Send("* OK Fake ready.")
      .Expect("A0 LOGIN joe secret")
      .Send("A0 OK")
      .Expect("A1 FETCH 1:* (FLAGS RFC822)");
  for (int n = 1; n <= 2; ++n) {
    script.SendRaw("* " + std::to_string(n) + " FETCH (FLAGS () RFC822 {" +
                   std::to_string(Mail(n).size()) + "}\r\n" + Mail(n) + ")\r\n");
  }
  script.Send("A1 OK");
  return script;
}

class ImapFetchAllHookTest : public ::testing::Test {
 protected:
  void Connect(ScriptedServer& server) {
    client.SetServer(server.Address());
    client.SetUserName("joe");
    client.SetPassword("secret");
    client.SetTimeOut(20);
    client.SetAllMailboxes(&mailboxes);
    client.SetMailBox("INBOX");
    client.OnRetrieved = [this](TagSocket&, int n) {
      events.push_back("Retrieved " + std::to_string(n));
    };
    client.Connect();
  }
  TMailboxList mailboxes;
  TImap4Client client;
  std::vector<std::string> events;
};

TEST_F(ImapFetchAllHookTest, FiresAfterEveryDeliveryAndBeforeTheStore) {
  Script script = FetchOfTwo();
  script.Expect("A2 STORE 1:2 +FLAGS (\\Deleted)").Send("A2 OK");
  ScriptedServer server(script);
  Connect(server);
  client.OnDeletingDelivered = [&](TagSocket&) {
    events.push_back("Deleting");
    for (const std::string& line : server.Transcript()) {
      EXPECT_EQ(line.find("STORE"), std::string::npos);
    }
  };
  client.FetchAll(false, "(FLAGS RFC822)");
  EXPECT_EQ(events, (std::vector<std::string>{"Retrieved 1", "Retrieved 2", "Deleting"}));
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(ImapFetchAllHookTest, KeepingOrDeliveringNothingDoesNotFire) {
  ScriptedServer server(FetchOfTwo());
  Connect(server);
  int fired = 0;
  client.OnDeletingDelivered = [&](TagSocket&) { ++fired; };
  client.FetchAll(true, "(FLAGS RFC822)");
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(ImapFetchAllHookTest, FailingHandlerLeavesTheMessagesUnmarked) {
  ScriptedServer server(FetchOfTwo());
  Connect(server);
  client.OnDeletingDelivered = [](TagSocket&) {
    throw std::runtime_error("not on disk");
  };
  EXPECT_THROW(client.FetchAll(false, "(FLAGS RFC822)"), std::runtime_error);
  EXPECT_EQ(server.Finish(), "");
  for (const std::string& line : server.Transcript()) {
    EXPECT_EQ(line.find("STORE"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace quillon
