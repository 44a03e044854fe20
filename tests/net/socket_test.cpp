// TagSocket against scripted servers on loopback: connection, lines, data,
// streams, and the event orders of normal ends, cancel, time-out and reset.
#include "net/socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/net_errors.h"
#include "net/socket_messages.h"
#include "net/winsock.h"
#include "platform/message_pump.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::RefusingPort;
using test::Script;
using test::ScriptedServer;

// A socket whose events are written into one list, in order.
class RecordingSocket : public TagSocket {
 public:
  RecordingSocket() {
    SetServiceName("pop3");
    SetDefaultPort(110);
    OnOpen = [this](TagSocket&) { events.push_back("Open"); };
    OnClosing = [this](TagSocket&) { events.push_back("Closing"); };
    OnClosed = [this](TagSocket&) { events.push_back("Closed"); };
    OnCancel = [this](TagSocket&) { events.push_back("Cancel"); };
    OnError = [this](TagSocket&, std::string& msg) {
      events.push_back("Error " + msg);
    };
  }
  void OpenAndConnect(const std::string& server) {
    SetServer(server);
    ResetState();
    Open();
    ConnectSocket();
  }
  std::vector<std::string> events;
};

std::vector<std::string> Events(std::initializer_list<const char*> names) {
  return std::vector<std::string>(names.begin(), names.end());
}

TEST(SocketConnection, NormalDialogueFiresOpenThenClosingAndClosed) {
  ScriptedServer server("S: +OK hello\nC: NOOP\nS: +OK\nX\n");
  RecordingSocket socket;
  socket.OpenAndConnect(server.Address());
  EXPECT_TRUE(socket.Connected());
  std::string reply;
  socket.ReadLine(reply);
  EXPECT_EQ(reply, "+OK hello");
  socket.SendLine("NOOP");
  socket.ReadLine();
  EXPECT_EQ(socket.LastReply(), "+OK");
  socket.Close();
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.events, Events({"Open", "Closing", "Closed"}));
  EXPECT_EQ(server.Finish(), "");
}

TEST(SocketConnection, RefusedConnectionIsReportedAtOnce) {
  RefusingPort refusing;
  RecordingSocket socket;
  socket.SetTimeOut(60);
  try {
    socket.OpenAndConnect(refusing.Address());
    FAIL() << "connect succeeded";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "[10061] Connection refused");
  }
  EXPECT_FALSE(socket.Expired());
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.events, Events({"Open", "Error [10061] Connection refused",
                                   "Closing", "Closed"}));
}

TEST(SocketConnection, UnknownHostGivesHostNotFound) {
  RecordingSocket socket;
  socket.SetServer("no-such-host.invalid:110");
  EXPECT_THROW(
      {
        try {
          socket.Open();
        } catch (const ESocketError& error) {
          EXPECT_STREQ(error.what(), "[11001] Host not found");
          throw;
        }
      },
      ESocketError);
  EXPECT_EQ(socket.events, Events({"Open", "Error [11001] Host not found"}));
}

TEST(SocketConnection, HostNameIsResolvedToItsIpv4Address) {
  ScriptedServer server("S: 220 ready\n");
  RecordingSocket socket;
  socket.OpenAndConnect("localhost:" + std::to_string(server.Port()));
  EXPECT_EQ(socket.RemoteAddressText(), "127.0.0.1");
  EXPECT_EQ(socket.ReadLine(), 220);
}

TEST(SocketConnection, EmptyServerIsRequired) {
  RecordingSocket socket;
  EXPECT_THROW(socket.Open(), ESocketError);
  EXPECT_EQ(socket.events, Events({"Open", "Error Server property is required"}));
}

TEST(SocketConnection, OperationsNeedAConnection) {
  RecordingSocket socket;
  try {
    socket.SendLine("NOOP");
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "You have to connect to the server first");
  }
  EXPECT_THROW(socket.ReadLine(), ESocketError);
  TMemoryStream stream;
  EXPECT_THROW(socket.ReceiveData(stream, 0), ESocketError);
}

TEST(SocketConnection, UnloadedSocketLayerRefusesEveryCall) {
  RecordingSocket socket;
  socket.SetServer("127.0.0.1:1");
  socket.SetWinsockLoaded(false);
  try {
    socket.Open();
    FAIL();
  } catch (const EWinsockDLLError& error) {
    EXPECT_STREQ(error.what(), "Winsock is not loaded");
  }
  socket.SetWinsockLoaded(true);
  EXPECT_TRUE(TagWinsock::Instance().Loaded());
}


class RecordingDialUp : public DialUpLink {
 public:
  void Connect() override { calls.push_back("Dial"); }
  void Disconnect() override { calls.push_back("Disconnect"); }
  std::vector<std::string> calls;
};

TEST(SocketConnection, AttachedDialUpIsAskedBeforeOpeningAndAfterClosing) {
  ScriptedServer server("S: +OK\n");
  RecordingDialUp dial_up;
  RecordingSocket socket;
  socket.SetRAS(&dial_up);
  socket.OnOpen = [&](TagSocket&) { dial_up.calls.push_back("Open"); };
  socket.OpenAndConnect(server.Address());
  socket.Close();
  socket.Close();  // lets go even without a socket
  EXPECT_EQ(dial_up.calls, Events({"Dial", "Open", "Disconnect", "Disconnect"}));
}

struct ServerPortCase {
  const char* name;
  const char* server;
  const char* host;
  int port;
};

class ServerPortParsing : public ::testing::TestWithParam<ServerPortCase> {};

TEST_P(ServerPortParsing, SplitsHostAndPort) {
  EXPECT_EQ(TagSocket::HostPart(GetParam().server), GetParam().host);
  EXPECT_EQ(TagSocket::PortPart(GetParam().server), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerPortParsing,
    ::testing::Values(
        ServerPortCase{"HostOnly", "mail.example", "mail.example", 0},
        ServerPortCase{"HostAndPort", "mail.example:2110", "mail.example", 2110},
        ServerPortCase{"ColonAndNothing", "mail.example:", "mail.example", 0},
        ServerPortCase{"ColonAndLetters", "mail.example:pop", "mail.example", 0},
        ServerPortCase{"ColonAndZero", "10.1.2.3:0", "10.1.2.3", 0},
        ServerPortCase{"SecondColon", "a:25:26", "a", 0},
        ServerPortCase{"BracketedIpv6", "[::1]:2110", "::1", 2110},
        ServerPortCase{"BracketedIpv6NoPort", "[::1]", "::1", 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct PortChoiceCase {
  const char* name;
  const char* server_suffix;  // after "127.0.0.1"
  const char* service;
  int expected_port;
};

class PortChoice : public ::testing::TestWithParam<PortChoiceCase> {};

TEST_P(PortChoice, ComesFromServerThenServiceThenDefault) {
  RecordingSocket socket;
  socket.SetServiceName(GetParam().service);
  socket.SetDefaultPort(2999);
  socket.SetServer(std::string("127.0.0.1") + GetParam().server_suffix);
  socket.Open();
  EXPECT_EQ(socket.Port(), GetParam().expected_port);
  EXPECT_TRUE(socket.Connected());  // Open alone makes the socket
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortChoice,
    ::testing::Values(
        PortChoiceCase{"ExplicitPortSkipsLookup", ":2110", "", 2110},
        PortChoiceCase{"ZeroFallsBackToService", ":0", "pop3", 110},
        PortChoiceCase{"NothingFallsBackToService", ":", "smtp", 25},
        PortChoiceCase{"LettersFallBackToService", ":abc", "pop3", 110},
        PortChoiceCase{"ImapIsAnAliasInTheDatabase", "", "imap", 143},
        PortChoiceCase{"UnknownServiceGivesDefault", "", "no-such-service", 2999}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SocketConnection, EmptyServiceNameWithoutPortIsAnError) {
  RecordingSocket socket;
  socket.SetServiceName("");
  socket.SetServer("127.0.0.1");
  try {
    socket.Open();
    FAIL();
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Service name is required");
  }
}

}  // namespace
}  // namespace quillon
