// The POP3 client's UIDL query: the server's unique id of one message, and
// a refusal (a server without UIDL, or no such message) as "no id".
#include <gtest/gtest.h>

#include <string>

#include "net/pop3_client.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::ScriptedServer;

constexpr char kLogin[] =
    "S: +OK POP3 ready\n"
    "C: USER joe\n"
    "S: +OK\n"
    "C: PASS secret\n"
    "S: +OK logged in\n"
    "C: STAT\n"
    "S: +OK 3 900\n";

class Pop3UidlTest : public ::testing::Test {
 protected:
  void ConnectTo(const ScriptedServer& server) {
    pop.SetUserName("joe");
    pop.SetPassword("secret");
    pop.SetTimeOut(20);
    pop.SetServer(server.Address());
    pop.Connect();
  }
  TmsRemotePOP pop;
};

TEST_F(Pop3UidlTest, AnswersTheServersIdOfTheMessage) {
  ScriptedServer server(std::string(kLogin) +
                        "C: UIDL 1\nS: +OK 1 QhdPYR:00WBw1Ph7x7\n"
                        "C: UIDL 3\nS: +OK 3 whqtswO00WBw418f9t5JxYwZ trailing\n"
                        "C: QUIT\nS: +OK\n");
  ConnectTo(server);
  std::string id = "stale";
  EXPECT_TRUE(pop.Uidl(0, id));
  EXPECT_EQ(id, "QhdPYR:00WBw1Ph7x7");
  // Only the word after the message number is the id.
  EXPECT_TRUE(pop.Uidl(2, id));
  EXPECT_EQ(id, "whqtswO00WBw418f9t5JxYwZ");
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(Pop3UidlTest, RefusalOrAnswerWithoutIdMeansNoId) {
  ScriptedServer server(std::string(kLogin) +
                        "C: UIDL 1\nS: -ERR unknown command\n"
                        "C: UIDL 2\nS: +OK\n"
                        "C: UIDL 3\nS: +OK 3\n"
                        "C: QUIT\nS: +OK\n");
  ConnectTo(server);
  std::string id = "stale";
  EXPECT_FALSE(pop.Uidl(0, id));
  EXPECT_EQ(id, "");
  EXPECT_FALSE(pop.Uidl(1, id));
  EXPECT_FALSE(pop.Uidl(2, id));
  EXPECT_EQ(id, "");
  // The connection is still usable after a refusal.
  EXPECT_TRUE(pop.Connected());
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
}  // namespace quillon
