// TagSocket's line, data and stream operations against scripted servers,
// and the event orders of cancel, time-out and connection reset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/socket.h"
#include "platform/message_pump.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::Script;
using test::ScriptedServer;

class RecordingSocket : public TagSocket {
 public:
  RecordingSocket() {
    SetServiceName("pop3");
    OnClosing = [this](TagSocket&) { events.push_back("Closing"); };
    OnClosed = [this](TagSocket&) { events.push_back("Closed"); };
    OnCancel = [this](TagSocket&) { events.push_back("Cancel"); };
    OnError = [this](TagSocket&, std::string& msg) { events.push_back("Error " + msg); };
  }
  void OpenAndConnect(const std::string& server) {
    SetServer(server);
    ResetState();
    Open();
    ConnectSocket();
  }
  std::vector<std::string> events;
};

struct LineEndCase {
  const char* name;
  const char* raw;  // as the server sends it
};

class ReplyLineEnds : public ::testing::TestWithParam<LineEndCase> {};

TEST_P(ReplyLineEnds, GiveTheSameText) {
  ScriptedServer server(Script().SendRaw(GetParam().raw).Send("+OK next"));
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::string reply;
  EXPECT_EQ(socket.ReadLine(reply), 250);
  EXPECT_EQ(reply, "250 text");
  socket.ReadLine(reply);
  EXPECT_EQ(reply, "+OK next");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ReplyLineEnds,
    ::testing::Values(LineEndCase{"CrLf", "250 text\r\n"},
                      LineEndCase{"LfAlone", "250 text\n"},
                      LineEndCase{"CrCrLf", "250 text\r\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadLine, ReplySplitAcrossWritesIsJoined) {
  ScriptedServer server("B: +OK split\\r\\n\nR: 2\nR: 50 two\\r\\n3\nR: 54 three\\r\\n\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::string reply;
  socket.ReadLine(reply);
  EXPECT_EQ(reply, "+OK split");
  EXPECT_EQ(socket.ReadLine(reply), 250);
  EXPECT_EQ(reply, "250 two");
  EXPECT_EQ(socket.ReadLine(reply), 354);
}

TEST(ReadLine, PeerClosingBeforeTheLineEndsGivesMinusOne) {
  ScriptedServer server("R: 250 no line end\nX\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::string reply = "old";
  EXPECT_EQ(socket.ReadLine(reply), -1);
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(socket.events.empty());
}

TEST(ReadLine, LineLongerThanTheOldBufferIsHandedOutWhole) {
  const std::string long_line = "250 " + std::string(5000, 'x');
  ScriptedServer server(Script().Send(long_line));
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::string reply;
  EXPECT_EQ(socket.ReadLine(reply), 250);
  EXPECT_EQ(reply, long_line);
}

TEST(ReadLine, EndlessLineIsAClearErrorAndClosesTheConnection) {
  ScriptedServer server(Script().SendRaw(std::string(kMaxReplyLineLength + 10, 'x')).Silence());
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  try {
    socket.ReadLine();
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Server reply too long");
  }
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.events,
            (std::vector<std::string>{"Error Server reply too long", "Closing", "Closed"}));
}

TEST(ReadLine, LineOfExactlyTheLimitIsAccepted) {
  // The limit counts the line end.
  const std::string line = "250 " + std::string(kMaxReplyLineLength - 6, 'y');
  ScriptedServer server(Script().Send(line));
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::string reply;
  EXPECT_EQ(socket.ReadLine(reply), 250);
  EXPECT_EQ(reply.size(), line.size());
}

TEST(ReadReply, MultiLineReplyKeepsFirstCodeAndLastLine) {
  ScriptedServer server("S: 250-first\nS: 250-second\nS: 250 last\nS: 354 next\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  EXPECT_EQ(socket.ReadReply(), 250);
  EXPECT_EQ(socket.LastReply(), "250 last");
  EXPECT_EQ(socket.ReadReply(), 354);
}

TEST(ReadReply, BareCodeEndsAMultiLineReply) {
  ScriptedServer server("S: 250-first\nS: 250\nS: 221 bye\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  EXPECT_EQ(socket.ReadReply(), 250);
  EXPECT_EQ(socket.LastReply(), "250");
  EXPECT_EQ(socket.ReadReply(), 221);
}

TEST(ReadReply, PeerClosingEndsAMultiLineReply) {
  ScriptedServer server("S: 421-going\nX\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  EXPECT_EQ(socket.ReadReply(), 421);
}

TEST(ReceiveData, StatusLineThenDataInOneWrite) {
  ScriptedServer server("R: +OK 12 octets\\r\\nline 1\\r\\n..dot\\r\\n.\\r\\n+OK after\\r\\n\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  socket.ReadLine();
  TMemoryStream stream;
  socket.ReceiveData(stream, 0);
  EXPECT_EQ(stream.Data(), "line 1\r\n..dot\r\n.\r\n");
  socket.ReadLine();
  EXPECT_EQ(socket.LastReply(), "+OK after");
}

TEST(ReceiveData, OnlyTheEndLineCompletesAtOnce) {
  ScriptedServer server("R: .\\r\\n\nH\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  TMemoryStream stream;
  socket.ReceiveData(stream, -1);
  EXPECT_EQ(stream.Data(), ".\r\n");
}

TEST(ReceiveData, EndSplitAcrossWritesIsRecognised) {
  ScriptedServer server("R: body\\r\nR: \\n.\nB: \\r\\n\nH\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  TMemoryStream stream;
  socket.ReceiveData(stream, 0);
  EXPECT_EQ(stream.Data(), "body\r\n.\r\n");
}

TEST(ReceiveData, ProgressReportsRoundedPercentOfExpectedSize) {
  // 16384-byte passes; the first pass reports position 0.
  const std::string body = std::string(40000, 'a') + "\r\n.\r\n";
  ScriptedServer server(Script().SendRaw(body).Silence());
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::vector<std::pair<int, int>> reports;
  socket.OnProgress = [&](TagSocket&, int perc, int transferred) {
    reports.emplace_back(perc, transferred);
  };
  TMemoryStream stream;
  socket.ReceiveData(stream, static_cast<std::int64_t>(body.size()));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front(), std::make_pair(0, 0));
  for (const auto& [perc, transferred] : reports) {
    EXPECT_EQ(perc, RoundedPercent(transferred, static_cast<std::int64_t>(body.size())));
    EXPECT_LT(transferred, static_cast<int>(body.size()));
  }
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(body.size()));
}

TEST(ReceiveData, UnknownSizeReportsMinusOne) {
  ScriptedServer server("R: a\\r\\n.\\r\\n\nH\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::vector<int> percents;
  socket.OnProgress = [&](TagSocket&, int perc, int) { percents.push_back(perc); };
  TMemoryStream stream;
  socket.ReceiveData(stream, 0);
  ASSERT_FALSE(percents.empty());
  for (int perc : percents) EXPECT_EQ(perc, -1);
}

TEST(ReceiveData, ConnectionDroppedInTheMiddleIsReportedAtOnce) {
  ScriptedServer server("R: half a mess\nX\n");
  RecordingSocket socket;
  socket.SetTimeOut(60);
  socket.OpenAndConnect(server.Address());
  TMemoryStream stream;
  try {
    socket.ReceiveData(stream, 0);
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "[10054] Connection reset by peer");
  }
  EXPECT_FALSE(socket.Expired());
  EXPECT_FALSE(socket.Connected());
}

TEST(SendStream, SendsContentUnchangedAndEndsWithZeroProgress) {
  std::string content;
  for (int i = 0; i < 500; ++i) content += ".line " + std::to_string(i) + "\r\n";
  content += ".\r\n";  // the caller's business, sent as it is
  ScriptedServer server(Script().ReadData());
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  std::vector<std::pair<int, int>> reports;
  socket.OnProgress = [&](TagSocket&, int perc, int transferred) {
    reports.emplace_back(perc, transferred);
  };
  TMemoryStream stream;
  stream.Write(content);
  socket.SendStream(stream);
  EXPECT_EQ(server.Finish(), "");
  ASSERT_EQ(server.DataBlocks().size(), 1u);
  EXPECT_EQ(server.DataBlocks()[0], content);
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back(), std::make_pair(0, 0));
  EXPECT_EQ(reports[reports.size() - 2],
            std::make_pair(100, static_cast<int>(content.size())));
}

// --- event orders of the three ways a wait ends badly -----------------------

TEST(EventOrder, CancelWhileReadLineWaits) {
  ScriptedServer server("H\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  // Runs at the first dispatch inside the wait, like a button press.
  CurrentPump().Post([&] { socket.Cancel(); });
  EXPECT_THROW(socket.ReadLine(), ECanceledError);
  EXPECT_EQ(socket.events, (std::vector<std::string>{
                               "Cancel", "Closing", "Closed",
                               "Error Operation has been canceled"}));
  try {
    socket.ReadLine();
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "You have to connect to the server first");
  }
}

TEST(EventOrder, TimeOutOnASilentServer) {
  ScriptedServer server("H\n");
  RecordingSocket socket;
  socket.SetTimeOut(1);
  socket.OpenAndConnect(server.Address());
  EXPECT_THROW(socket.ReadLine(), ETimedOutError);
  EXPECT_EQ(socket.events, (std::vector<std::string>{"Error Operation timed out",
                                                     "Closing", "Closed"}));
  EXPECT_FALSE(socket.Connected());
}

TEST(EventOrder, ConnectionResetByPeer) {
  ScriptedServer server("S: +OK\nC: NOOP\nZ\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  socket.ReadLine();
  socket.SendLine("NOOP");
  EXPECT_EQ(server.Finish(), "");
  EXPECT_THROW(socket.ReadLine(), ESocketError);
  EXPECT_EQ(socket.events,
            (std::vector<std::string>{"Error [10054] Connection reset by peer",
                                      "Closing", "Closed"}));
}

TEST(EventOrder, ErrorHandlerMayRewordSocketErrorsOnly) {
  RecordingSocket socket;
  socket.OnError = [](TagSocket&, std::string& msg) { msg = "reworded"; };
  try {
    socket.SocketError(10101);
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "reworded");
  }
  try {
    socket.CancelError();
  } catch (const ECanceledError& error) {
    EXPECT_STREQ(error.what(), "Operation has been canceled");
  }
  try {
    socket.TimeOutError();
  } catch (const ETimedOutError& error) {
    EXPECT_STREQ(error.what(), "Operation timed out");
  }
}

TEST(EventOrder, CodeWithoutTextIsNumbered) {
  RecordingSocket socket;
  EXPECT_NO_THROW(socket.SocketError(0));
  try {
    socket.SocketError(10101);
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Error #10101");
  }
}


TEST(EventOrder, CancelDuringHostLookup) {
  RecordingSocket socket;
  socket.SetServer("slow-name.invalid:110");
  CurrentPump().Post([&] { socket.Cancel(); });
  EXPECT_THROW(socket.Open(), ECanceledError);
  // No socket yet: nothing to close.
  EXPECT_EQ(socket.events,
            (std::vector<std::string>{"Cancel", "Error Operation has been canceled"}));
}

TEST(EventOrder, TimeOutBetweenDataChunks) {
  ScriptedServer server("R: first part\\r\\n\nH\n");
  RecordingSocket socket;
  socket.SetTimeOut(1);
  socket.OpenAndConnect(server.Address());
  TMemoryStream stream;
  EXPECT_THROW(socket.ReceiveData(stream, 0), ETimedOutError);
  EXPECT_EQ(stream.Data(), "first part\r\n");
  EXPECT_EQ(socket.events, (std::vector<std::string>{"Error Operation timed out",
                                                     "Closing", "Closed"}));
}

TEST(SendStream, WaitsForRoomWhenTheServerReadsLate) {
  // More than the socket buffers hold, so sends must wait for room.
  std::string content;
  while (content.size() < 16 * 1024 * 1024) content += std::string(1000, 'z') + "\r\n";
  content += ".\r\n";
  ScriptedServer server(Script().Pause(std::chrono::milliseconds(300)).ReadData());
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  TMemoryStream stream;
  stream.Write(content);
  socket.SendStream(stream);
  EXPECT_EQ(server.Finish(), "");
  ASSERT_EQ(server.DataBlocks().size(), 1u);
  EXPECT_TRUE(server.DataBlocks()[0] == content);
}

}  // namespace
}  // namespace quillon
