// TmsRemotePOP with servers that list PIPELINING: the commands of announced
// calls go out ahead of their replies, and every call still returns what
// it returns against a one-command-at-a-time server, with the same events
// in the same order. The scripts expect commands before answering any, so
// a client that waited for each reply would stall there and fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/pop3_client.h"
#include "platform/message_pump.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::Script;
using test::ScriptedServer;
using Lines = std::vector<std::string>;

constexpr int kMessages = 3;

std::string Number(int index) { return std::to_string(index + 1); }

std::string Mail(int index) {
  return "Message-ID: <m" + Number(index) + "@example.org>\r\nSubject: Message " +
         Number(index) + "\r\n\r\nBody of message " + Number(index) + ".\r\n";
}

std::string TopData(int index) {
  const std::string mail = Mail(index);
  const std::size_t body = mail.find("\r\n\r\n") + 4;
  return mail.substr(0, mail.find("\r\n", body) + 2) + ".\r\n";
}

std::string ListReply(int index) {
  return "+OK " + Number(index) + " " + std::to_string(Mail(index).size());
}

// How the server sends its replies.
enum class Delivery { kWhole, kSlowAndSplit };

class Pop3Script {
 public:
  explicit Pop3Script(Delivery delivery = Delivery::kWhole) : delivery_(delivery) {}

  Pop3Script& Login() {
    script.Send("+OK ready").Expect("USER joe").Send("+OK").Expect("PASS secret");
    script.Send("+OK").Expect("STAT").Send("+OK " + std::to_string(kMessages) + " 900");
    return *this;
  }
  Pop3Script& Capabilities(bool pipelining) {
    script.Expect("CAPA");
    Reply(pipelining ? "+OK\r\nUSER\r\nPIPELINING\r\nUIDL\r\n.\r\n" : "-ERR unknown command\r\n");
    return *this;
  }
  Pop3Script& Expect(const std::string& line) {
    script.Expect(line);
    return *this;
  }
  // The commands of GetInfo and Retrieve for `index`, expected together.
  Pop3Script& ExpectInfoAndRetrieve(int index) {
    const std::string n = Number(index);
    return Expect("LIST " + n).Expect("TOP " + n + " 1").Expect("LIST " + n).Expect("RETR " + n);
  }
  Pop3Script& Reply(const std::string& bytes) {
    if (delivery_ == Delivery::kWhole) {
      script.SendRaw(bytes);
    } else {
      script.Pause(std::chrono::milliseconds(20)).SendBytewise(bytes);
    }
    return *this;
  }
  Pop3Script& ReplyLine(const std::string& line) { return Reply(line + "\r\n"); }
  Pop3Script& ReplyInfo(int index) {
    return ReplyLine(ListReply(index)).ReplyLine("+OK").Reply(TopData(index));
  }
  Pop3Script& ReplyRetrieve(int index) {
    return ReplyLine(ListReply(index)).ReplyLine("+OK").Reply(Mail(index) + ".\r\n");
  }
  Pop3Script& InfoAndRetrieve(int index) {
    const std::string n = Number(index);
    Expect("LIST " + n).ReplyLine(ListReply(index)).Expect("TOP " + n + " 1").ReplyLine("+OK");
    Reply(TopData(index)).Expect("LIST " + n).ReplyLine(ListReply(index)).Expect("RETR " + n);
    return ReplyLine("+OK").Reply(Mail(index) + ".\r\n");
  }

  Script script;

 private:
  Delivery delivery_;
};

// Makes the retrieval driver's calls and writes down what it saw, in order.
class RecordingCaller {
 public:
  RecordingCaller() {
    pop.SetUserName("joe");
    pop.SetPassword("secret");
    pop.SetTimeOut(10);
    pop.SetPipeliningAllowed(true);
    pop.OnRetrieving = [this](TagSocket&, int num) { Note("Retrieving " + std::to_string(num)); };
    pop.OnRetrieved = [this](TagSocket&, int num) { Note("Retrieved " + std::to_string(num)); };
    pop.OnDeleting = [this](TagSocket&, int num) { Note("Deleting " + std::to_string(num)); };
    pop.OnError = [this](TagSocket&, std::string& msg) { Note("Error " + msg); };
    pop.OnProgress = [this](TagSocket&, int, int) {
      // Pieces arrive as they arrive; what counts is where progress shows.
      if (events.empty() || events.back() != "Progress") Note("Progress");
    };
    pop.OnUserMessageSave = [this](TagSocket&, int num, TMemoryStream& contents) {
      Note("Save " + std::to_string(num) + " " + contents.Data());
    };
  }

  void Connect(const ScriptedServer& server) {
    pop.SetServer(server.Address());
    pop.Connect();
  }
  void Note(const std::string& event) { events.push_back(event); }

  void GetInfo(int index) {
    TmsRemoteInfoItem item;
    try {
      pop.GetInfo(index, item);
      Note("Info " + std::to_string(item.Size()) + " " + item.Headers().Text());
    } catch (const EServerError& error) {
      Note("Info failed " + std::string(error.what()));
    }
  }
  bool Retrieve(int index) {
    try {
      pop.Retrieve(index);
      return true;
    } catch (const EServerError& error) {
      Note("Retrieve failed " + std::string(error.what()));
      return false;
    }
  }
  // The driver's delete mode over every message.
  void DeleteMode() {
    std::vector<int> all;
    for (int i = 0; i < pop.MessageCount(); ++i) all.push_back(i);
    pop.PlanCalls(all, Pop3Calls::kInfoAndRetrieve);
    for (int i = 0; i < pop.MessageCount(); ++i) {
      GetInfo(i);
      if (Retrieve(i)) pop.Delete(i);
    }
  }
  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  TmsRemotePOP pop;
  Lines events;
};

// The same run against a server without PIPELINING: the reference.
Lines DeleteModeWithoutPipelining() {
  Pop3Script plain;
  plain.Login().Capabilities(false);
  for (int i = 0; i < kMessages; ++i) {
    plain.InfoAndRetrieve(i).Expect("DELE " + Number(i)).ReplyLine("+OK");
  }
  plain.Expect("QUIT").ReplyLine("+OK bye");
  ScriptedServer server(plain.script);
  RecordingCaller caller;
  caller.Connect(server);
  caller.DeleteMode();
  caller.pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  return caller.events;
}

class Pop3Pipelining : public ::testing::Test {
 protected:
  RecordingCaller caller;
  TmsRemotePOP& pop = caller.pop;
  Lines& events = caller.events;
};

class Pop3PipeliningDelivery : public Pop3Pipelining,
                               public ::testing::WithParamInterface<Delivery> {};

TEST_P(Pop3PipeliningDelivery, DeleteModeSendsAheadAndGivesTheSameCallsAndEvents) {
  Pop3Script pipelined(GetParam());
  pipelined.Login().Capabilities(true);
  // Every read-only command before any reply; then the replies in order.
  for (int i = 0; i < kMessages; ++i) pipelined.ExpectInfoAndRetrieve(i);
  for (int i = 0; i < kMessages; ++i) pipelined.ReplyInfo(i).ReplyRetrieve(i);
  // The DELEs do not wait for their replies either.
  for (int i = 0; i < kMessages; ++i) pipelined.Expect("DELE " + Number(i));
  for (int i = 0; i < kMessages; ++i) pipelined.ReplyLine("+OK deleted");
  pipelined.Expect("QUIT").ReplyLine("+OK bye");
  ScriptedServer server(pipelined.script);

  caller.Connect(server);
  caller.DeleteMode();
  EXPECT_TRUE(pop.ServerPipelining());
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(events, DeleteModeWithoutPipelining());
}

INSTANTIATE_TEST_SUITE_P(Servers, Pop3PipeliningDelivery,
                         ::testing::Values(Delivery::kWhole, Delivery::kSlowAndSplit),
                         [](const auto& info) {
                           return info.param == Delivery::kWhole ? "Whole" : "SlowAndSplit";
                         });

TEST_F(Pop3Pipelining, WithoutPipeliningInCapaEveryCommandWaitsForItsReply) {
  Pop3Script plain;
  plain.Login().Expect("CAPA").Reply("+OK\r\nUSER\r\nUIDL\r\n.\r\n");
  for (int i = 0; i < kMessages; ++i) plain.InfoAndRetrieve(i).Expect("DELE " + Number(i)).ReplyLine("+OK");
  plain.Expect("QUIT").ReplyLine("+OK bye");
  ScriptedServer server(plain.script);
  caller.Connect(server);
  caller.DeleteMode();
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  EXPECT_FALSE(pop.ServerPipelining());
}

TEST_F(Pop3Pipelining, FailedRetrAndDeleInsideTheWindow) {
  Pop3Script pipelined;
  pipelined.Login().Capabilities(true);
  for (int i = 0; i < kMessages; ++i) pipelined.ExpectInfoAndRetrieve(i);
  pipelined.ReplyInfo(0).ReplyRetrieve(0);
  pipelined.ReplyInfo(1).ReplyLine(ListReply(1)).ReplyLine("-ERR message 2 is locked");
  pipelined.ReplyInfo(2).ReplyRetrieve(2);
  // Message 2 is not deleted; the refused DELE 1 passes silently.
  pipelined.Expect("DELE 1").Expect("DELE 3").ReplyLine("-ERR no such message").ReplyLine("+OK");
  pipelined.Expect("QUIT").ReplyLine("+OK bye");
  ScriptedServer server(pipelined.script);

  caller.Connect(server);
  caller.DeleteMode();
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
  const Lines saved = {"Save 0 " + Mail(0) + ".\r\n", "Save 2 " + Mail(2) + ".\r\n"};
  Lines saves;
  for (const std::string& event : events) {
    if (event.rfind("Save", 0) == 0) saves.push_back(event);
  }
  EXPECT_EQ(saves, saved);
  EXPECT_TRUE(caller.Saw("Retrieve failed -ERR message 2 is locked"));
  EXPECT_FALSE(caller.Saw("Deleting 1"));
}

TEST_F(Pop3Pipelining, RepliesOfCommandsGivenUpAreReadAndDropped) {
  // LIST of message 1's download fails: its RETR, sent ahead, is answered
  // with the whole message, which nobody may see. UIDL comes outside the
  // plan: what was sent ahead is dropped and sent again.
  Pop3Script pipelined;
  pipelined.Login().Capabilities(true);
  pipelined.ExpectInfoAndRetrieve(0).ExpectInfoAndRetrieve(1);
  pipelined.ReplyInfo(0).ReplyLine("-ERR busy").ReplyLine("+OK").Reply(Mail(0) + ".\r\n");
  pipelined.ReplyInfo(1).ReplyRetrieve(1);
  pipelined.Expect("UIDL 2").ReplyLine("+OK 2 uid-two");
  pipelined.Expect("LIST 2").Expect("TOP 2 1").Expect("LIST 2").Expect("RETR 2");
  pipelined.ReplyInfo(1).ReplyRetrieve(1).Expect("QUIT").ReplyLine("+OK bye");
  ScriptedServer server(pipelined.script);

  caller.Connect(server);
  pop.PlanCalls({0, 1}, Pop3Calls::kInfoAndRetrieve);
  caller.GetInfo(0);
  caller.Retrieve(0);
  const std::size_t after_failure = events.size();
  std::string unique_id;
  EXPECT_TRUE(pop.Uidl(1, unique_id));
  caller.Note("Uidl " + unique_id);
  caller.GetInfo(1);
  caller.Retrieve(1);
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");

  EXPECT_EQ(events[after_failure - 1], "Retrieve failed -ERR busy");
  // Neither the dropped download nor the dropped replies of message 2
  // showed up: after the failure come message 2's info and download only.
  EXPECT_EQ(Lines(events.begin() + static_cast<std::ptrdiff_t>(after_failure), events.end()),
            (Lines{"Uidl uid-two", "Progress",
                   "Info " + std::to_string(Mail(1).size()) +
                       " Message-ID: <m2@example.org>\r\nSubject: Message 2\r\n",
                   "Retrieving 1", "Progress", "Save 1 " + Mail(1) + ".\r\n", "Retrieved 1"}));
}

TEST_F(Pop3Pipelining, CancelInTheMiddleOfTheWindowClosesAndDeletesNothingMore) {
  // Skip! and Cancel both reach the client as Cancel.
  Pop3Script pipelined;
  pipelined.Login().Capabilities(true);
  for (int i = 0; i < kMessages; ++i) pipelined.ExpectInfoAndRetrieve(i);
  pipelined.ReplyInfo(0).ReplyRetrieve(0).Expect("DELE 1");
  // The rest goes in one write: the client closes once it has read the
  // list reply, and a later write of the server's would then fail.
  pipelined.ReplyInfo(1).Reply(ListReply(1) + "\r\n+OK\r\nSubject: half");
  pipelined.script.Silence();
  ScriptedServer server(pipelined.script);
  int lists_of_second = 0;
  pop.OnTrace = [&](const std::string& line) {
    if (line == "S: " + ListReply(1) && ++lists_of_second == 2) {
      CurrentPump().Post([this] { pop.Cancel(); });
    }
  };

  caller.Connect(server);
  std::vector<int> all = {0, 1, 2};
  pop.PlanCalls(all, Pop3Calls::kInfoAndRetrieve);
  caller.GetInfo(0);
  ASSERT_TRUE(caller.Retrieve(0));
  pop.Delete(0);
  caller.GetInfo(1);
  EXPECT_THROW(pop.Retrieve(1), ECanceledError);
  EXPECT_FALSE(pop.Connected());
  EXPECT_THROW(pop.Delete(1), ESocketError);  // nothing goes out any more
  EXPECT_EQ(server.Finish(), "");
  for (const std::string& line : server.Transcript()) {
    EXPECT_NE(line, "C: DELE 2");
    EXPECT_NE(line, "C: QUIT");
  }
}

TEST_F(Pop3Pipelining, ServerClosingMidWindowFailsTheCallsWithoutHanging) {
  Pop3Script pipelined;
  pipelined.Login().Capabilities(true);
  for (int i = 0; i < kMessages; ++i) pipelined.ExpectInfoAndRetrieve(i);
  pipelined.ReplyInfo(0).ReplyLine(ListReply(0)).ReplyLine("+OK").Reply("Subject: cut\r\n");
  pipelined.script.Close();
  ScriptedServer server(pipelined.script);

  caller.Connect(server);
  pop.PlanCalls({0, 1, 2}, Pop3Calls::kInfoAndRetrieve);
  caller.GetInfo(0);
  EXPECT_THROW(pop.Retrieve(0), ESocketError);
  EXPECT_FALSE(pop.Connected());
  EXPECT_NO_THROW(pop.Disconnect());  // nothing left to say goodbye on
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.rfind("Save", 0) == 0; }),
            0);
}

TEST_F(Pop3Pipelining, ServerFallingSilentMidWindowTimesOutAndCloses) {
  Pop3Script pipelined;
  pipelined.Login().Capabilities(true);
  for (int i = 0; i < kMessages; ++i) pipelined.ExpectInfoAndRetrieve(i);
  pipelined.ReplyInfo(0).ReplyRetrieve(0).Expect("DELE 1");
  pipelined.script.Silence();
  ScriptedServer server(pipelined.script);

  caller.Connect(server);
  pop.SetTimeOut(1);
  pop.PlanCalls({0, 1, 2}, Pop3Calls::kInfoAndRetrieve);
  caller.GetInfo(0);
  ASSERT_TRUE(caller.Retrieve(0));
  pop.Delete(0);
  TmsRemoteInfoItem item;
  EXPECT_THROW(pop.GetInfo(1, item), ETimedOutError);
  // Closed without QUIT: the server keeps message 1 too.
  EXPECT_FALSE(pop.Connected());
  EXPECT_EQ(server.Finish(), "");
  EXPECT_FALSE(caller.Saw("Deleting 1"));
  EXPECT_EQ(events.back(), "Error Operation timed out");
}

}  // namespace
}  // namespace quillon
