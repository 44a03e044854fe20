// TmsRemotePOP against scripted POP3 dialogues: login, STAT parsing, LIST
// sizes, RETR and its events, TOP headers, DELE, QUIT, and the reply-code
// rules.
#include "net/pop3_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "platform/temp_file.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::RefusingPort;
using test::ScriptedServer;

constexpr char kLogin[] =
    "S: +OK POP3 ready\n"
    "C: USER joe\n"
    "S: +OK\n"
    "C: PASS secret\n"
    "S: +OK logged in\n"
    "C: STAT\n"
    "S: +OK 2 320\n";

class Pop3Client : public ::testing::Test {
 protected:
  Pop3Client() {
    pop.SetUserName("joe");
    pop.SetPassword("secret");
    pop.OnError = [this](TagSocket&, std::string& msg) { events.push_back("Error " + msg); };
    pop.OnTrace = [this](const std::string& line) { trace.push_back(line); };
  }
  void ConnectTo(const ScriptedServer& server) {
    pop.SetServer(server.Address());
    pop.Connect();
  }
  TmsRemotePOP pop;
  std::vector<std::string> events;
  std::vector<std::string> trace;
};

TEST_F(Pop3Client, LoginReadsTheMailboxStatistics) {
  ScriptedServer server(std::string(kLogin) + "C: QUIT\nS: +OK bye\n");
  EXPECT_EQ(pop.MessageCount(), -1);
  EXPECT_EQ(pop.TotalSize(), -1);
  ConnectTo(server);
  EXPECT_EQ(pop.MessageCount(), 2);
  EXPECT_EQ(pop.TotalSize(), 320);
  pop.Disconnect();
  EXPECT_FALSE(pop.Connected());
  EXPECT_EQ(server.Finish(), "");
  // Statistics outlive the connection.
  EXPECT_EQ(pop.MessageCount(), 2);
}

TEST_F(Pop3Client, PasswordNeverAppearsInTheTrace) {
  ScriptedServer server(kLogin);
  ConnectTo(server);
  EXPECT_EQ(server.Finish(), "");
  bool saw_pass = false;
  for (const std::string& line : trace) {
    EXPECT_EQ(line.find("secret"), std::string::npos) << line;
    if (line == "C: PASS ****") saw_pass = true;
  }
  EXPECT_TRUE(saw_pass);
}

struct StatCase {
  const char* name;
  const char* reply;
  int count;
  int size;
};

class Pop3Stat : public Pop3Client, public ::testing::WithParamInterface<StatCase> {};

TEST_P(Pop3Stat, ParsesCountAndSize) {
  ScriptedServer server(std::string("S: +OK\nC: USER joe\nS: +OK\nC: PASS secret\nS: +OK\n"
                                    "C: STAT\nS: ") + GetParam().reply + "\n");
  ConnectTo(server);
  EXPECT_EQ(pop.MessageCount(), GetParam().count);
  EXPECT_EQ(pop.TotalSize(), GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Pop3Stat,
    ::testing::Values(StatCase{"EmptyMailbox", "+OK 0 0", 0, 0},
                      StatCase{"CountAndSize", "+OK 7 12345", 7, 12345},
                      StatCase{"TrailingWords", "+OK 3 900 octets", 3, 900},
                      StatCase{"NoSpaceLeavesValues", "+OK 5", -1, -1},
                      StatCase{"BareStatus", "+OK", -1, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3Client, NonNumericStatFieldIsAConversionError) {
  ScriptedServer server("S: +OK\nC: USER joe\nS: +OK\nC: PASS secret\nS: +OK\n"
                        "C: STAT\nS: +OK many 100\n");
  pop.SetServer(server.Address());
  EXPECT_THROW(pop.Connect(), EConvertError);
}

struct NegativeCase {
  const char* name;
  const char* script;
  const char* reply;
};

class Pop3Negative : public Pop3Client,
                     public ::testing::WithParamInterface<NegativeCase> {};

TEST_P(Pop3Negative, RaisesTheReplyWithoutOnErrorAndKeepsTheSocket) {
  ScriptedServer server(GetParam().script);
  pop.SetServer(server.Address());
  try {
    pop.Connect();
    FAIL() << "connected";
  } catch (const EServerError& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().reply);
  }
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(pop.Connected());
  EXPECT_EQ(server.Finish(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Pop3Negative,
    ::testing::Values(
        NegativeCase{"Greeting", "S: -ERR go away\n", "-ERR go away"},
        NegativeCase{"User", "S: +OK\nC: USER joe\nS: -ERR who\n", "-ERR who"},
        NegativeCase{"Pass", "S: +OK\nC: USER joe\nS: +OK\nC: PASS secret\nS: -ERR [AUTH] no\n",
                     "-ERR [AUTH] no"},
        NegativeCase{"Stat",
                     "S: +OK\nC: USER joe\nS: +OK\nC: PASS secret\nS: +OK\nC: STAT\nS: -ERR later\n",
                     "-ERR later"},
        NegativeCase{"NeitherPlusNorMinus", "S: * hello\n", "* hello"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3Client, MissingCredentialsFailBeforeAnyNetworkUse) {
  RefusingPort refusing;
  pop.SetServer(refusing.Address());
  bool opened = false;
  pop.OnOpen = [&](TagSocket&) { opened = true; };
  pop.SetUserName("");
  try {
    pop.Connect();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "UserName property is required");
  }
  pop.SetUserName("joe");
  pop.SetPassword("");
  try {
    pop.Connect();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Password property is required");
  }
  EXPECT_FALSE(opened);
  EXPECT_EQ(events, (std::vector<std::string>{"Error UserName property is required",
                                              "Error Password property is required"}));
}


TEST_F(Pop3Client, PasswordWithALineBreakIsRefusedUnseen) {
  ScriptedServer server("S: +OK\nC: USER joe\nS: +OK\nC: QUIT\nS: +OK\n");
  pop.SetPassword("secret\r\nDELE 1");
  pop.SetServer(server.Address());
  try {
    pop.Connect();
    FAIL() << "logged in";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Command contains a line break");
  }
  for (const std::string& line : trace) EXPECT_EQ(line.find("secret"), std::string::npos);
  pop.Disconnect();
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(Pop3Client, RetrieveFiresItsEventsInOrderWithTheSameIndex) {
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 2\nS: +OK 2 1205\n"
                        "C: RETR 2\nR: +OK\\r\\nSubject: x\\r\\n\\r\\n..dot\\r\\n.\\r\\n\n");
  ConnectTo(server);
  std::vector<std::string> order;
  pop.OnRetrieving = [&](TagSocket&, int num) { order.push_back("Retrieving " + std::to_string(num)); };
  pop.OnRetrieved = [&](TagSocket&, int num) { order.push_back("Retrieved " + std::to_string(num)); };
  pop.OnProgress = [&](TagSocket&, int perc, int) {
    if (order.empty() || order.back().rfind("Progress", 0) != 0) order.push_back("Progress");
    EXPECT_GE(perc, 0);
  };
  std::string saved;
  pop.OnUserMessageSave = [&](TagSocket&, int num, TMemoryStream& contents) {
    order.push_back("Save " + std::to_string(num));
    saved = contents.Data();
  };
  pop.Retrieve(1);
  EXPECT_EQ(order, (std::vector<std::string>{"Retrieving 1", "Progress", "Save 1",
                                             "Retrieved 1"}));
  EXPECT_EQ(pop.CurrentMessageSize(), 1205);
  // Exactly as received: the stuffed dot and the end line stay.
  EXPECT_EQ(saved, "Subject: x\r\n\r\n..dot\r\n.\r\n");
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(Pop3Client, ListSizeFollowedByWordsGivesZeroAndUnknownProgress) {
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 1\nS: +OK 1 300 octets\n"
                        "C: RETR 1\nR: +OK\\r\\nbody\\r\\n.\\r\\n\n");
  ConnectTo(server);
  std::vector<int> percents;
  pop.OnProgress = [&](TagSocket&, int perc, int) { percents.push_back(perc); };
  pop.OnUserMessageSave = [](TagSocket&, int, TMemoryStream&) {};
  pop.Retrieve(0);
  EXPECT_EQ(pop.CurrentMessageSize(), 0);
  ASSERT_FALSE(percents.empty());
  for (int perc : percents) EXPECT_EQ(perc, -1);
}

TEST_F(Pop3Client, NegativeRetrIsAServerErrorAfterOnRetrieving) {
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 1\nS: +OK 1 10\nC: RETR 1\nS: -ERR gone\n");
  ConnectTo(server);
  int retrieving = 0;
  pop.OnRetrieving = [&](TagSocket&, int) { ++retrieving; };
  EXPECT_THROW(pop.Retrieve(0), EServerError);
  EXPECT_EQ(retrieving, 1);
}

TEST_F(Pop3Client, WithoutHandlerTheMessageIsSavedAsAFile) {
  const std::filesystem::path directory =
      std::filesystem::path(TempDirectory()) / ("pop3-save-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 5\nS: +OK 5 8\nC: RETR 5\nR: +OK\\r\\nabc\\r\\n.\\r\\n\n");
  ConnectTo(server);
  pop.SetMessageDirectory(directory.string());
  EXPECT_EQ(pop.MessageDirectory(), directory.string() + "/");
  pop.Retrieve(4);
  std::ifstream in(directory / "msg_4.eml", std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "abc\r\n.\r\n");
  std::filesystem::remove_all(directory);
}

TEST_F(Pop3Client, GetInfoCutsTheHeadersAtTheFirstEmptyLine) {
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 1\nS: +OK 1 4000\nC: TOP 1 1\n"
                        "R: +OK\\r\\nFrom: a@b\\r\\nSubject: one\\r\\n two\\r\\n\\r\\nbody\\r\\n.\\r\\n\n");
  ConnectTo(server);
  TmsRemoteInfoItem item;
  pop.GetInfo(0, item);
  EXPECT_EQ(item.Size(), 4000);
  EXPECT_EQ(item.Headers(), (TStringList{"From: a@b", "Subject: one", " two"}));
  EXPECT_EQ(item.Headers().GetFieldValue("Subject"), "one two");
}

TEST_F(Pop3Client, GetInfoWithoutEmptyLineKeepsEveryLine) {
  ScriptedServer server(std::string(kLogin) +
                        "C: LIST 2\nS: +OK 2 12\nC: TOP 2 1\n"
                        "R: +OK\\r\\nFrom: a@b\\r\\n.\\r\\n\n");
  ConnectTo(server);
  TmsRemoteInfoItem item;
  pop.GetInfo(1, item);
  EXPECT_EQ(item.Headers(), (TStringList{"From: a@b", "."}));
}

TEST_F(Pop3Client, RefusedDeletePassesSilently) {
  ScriptedServer server(std::string(kLogin) +
                        "C: DELE 1\nS: -ERR no such message\nC: DELE 2\nS: +OK\n");
  ConnectTo(server);
  std::vector<int> deleting;
  pop.OnDeleting = [&](TagSocket&, int num) { deleting.push_back(num); };
  EXPECT_NO_THROW(pop.Delete(0));
  EXPECT_NO_THROW(pop.Delete(1));
  EXPECT_EQ(deleting, (std::vector<int>{0, 1}));
  EXPECT_EQ(server.Finish(), "");
}

TEST_F(Pop3Client, NegativeQuitLeavesTheSocketOpen) {
  ScriptedServer server(std::string(kLogin) + "C: QUIT\nS: -ERR cannot\n");
  ConnectTo(server);
  EXPECT_THROW(pop.Disconnect(), EServerError);
  EXPECT_TRUE(pop.Connected());
  pop.Close();
  EXPECT_FALSE(pop.Connected());
}

}  // namespace
}  // namespace quillon
