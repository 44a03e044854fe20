// TagRas over a scripted connection manager: finding a connection, dialling
// with stored and given credentials, the end of the wait (connected,
// failed, cancelled, timed out), the Service boxes, and a socket that
// brings its connection up through the component.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ag_ras.h"
#include "net/net_errors.h"
#include "net/socket.h"
#include "platform/message_pump.h"
#include "tests/support/scripted_connection_manager.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::ScriptedConnectionManager;

using Texts = std::vector<std::string>;

// A component over a manager with the entries "Office" (user "olaf", no
// password kept) and "Home" (user and password kept), recording its status
// texts, boxes and disconnections.
class DialUpFixture : public ::testing::Test {
 protected:
  DialUpFixture() {
    manager.entries = {"Office", "Home"};
    manager.stored["Office"] = DialParams{"Office", "olaf", "", false};
    manager.stored["Home"] = DialParams{"Home", "hilda", "kept", true};
  }
  TagRas& Ras() {
    if (!ras_) {
      ras_ = std::make_unique<TagRas>(manager);
      ras_->OnStatusChange = [this](TagRas&, const std::string& text) {
        texts.push_back(text);
      };
      ras_->OnDisconnected = [this](TagRas&) { texts.push_back("(down)"); };
      ras_->ShowErrorBox = [this](const std::string& text) {
        boxes.push_back(text);
      };
    }
    return *ras_;
  }
  void DialSucceeds() {
    manager.dial_progress = {{kRasOpenPort, 0},
                             {kRasPortOpened, 0},
                             {kRasStartAuthentication, 0},
                             {kRasAuthenticated, 0},
                             {kRasConnected, 0}};
  }

  ScriptedConnectionManager manager;
  Texts texts;
  Texts boxes;

 private:
  std::unique_ptr<TagRas> ras_;
};

using DialUpService = DialUpFixture;

TEST_F(DialUpService, KnownNamesAreKeptAndUnknownOnesBoxedAndCleared) {
  TagRas& ras = Ras();
  EXPECT_EQ(ras.Entries(), (Texts{"Office", "Home"}));
  ras.SetService("Office");
  EXPECT_EQ(ras.Service(), "Office");
  manager.entries.push_back("Cabin");  // listed again on assignment
  ras.SetService("Cabin");
  EXPECT_EQ(ras.Service(), "Cabin");
  ras.SetService("Work");
  EXPECT_EQ(ras.Service(), "");
  ras.SetService("Office");
  ras.SetService("");
  EXPECT_EQ(ras.Service(), "");
  EXPECT_EQ(boxes, (Texts{"Dial-up service name called \"Work\" is not "
                          "recognized.\rPlease check your settings!"}));
}

TEST_F(DialUpService, WithoutAManagerNothingIsListedOrDialled) {
  manager.available = false;
  TagRas& ras = Ras();
  EXPECT_TRUE(ras.Entries().empty());
  ras.SetService("Office");
  EXPECT_EQ(ras.Service(), "");
  EXPECT_EQ(boxes, (Texts{"There does not seem to be RAS installed on\r"
                          "your system."}));
  ras.Connect();  // empty Service: connected at once
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
  EXPECT_TRUE(manager.calls.empty());
}

TEST_F(DialUpService, EntriesThatCannotBeListedCountAsNone) {
  manager.list_entries_result = 603;
  EXPECT_TRUE(Ras().Entries().empty());
  EXPECT_EQ(Ras().LastResult(), 603);
}

using DialUpFind = DialUpFixture;

TEST_F(DialUpFind, EmptyServiceConnectsWithoutDialling) {
  TagRas& ras = Ras();
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
  EXPECT_EQ(manager.calls, (Texts{"ListEntries", "ListConnections"}));
}

TEST_F(DialUpFind, AnyConnectionWithAnAddressServesUnlessTheServiceIsForced) {
  manager.connections = {{{"lan1", "Wired"}, ""}, {{"wifi1", "Cafe"}, "10.1.2.3"}};
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.SetForceService(false);
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
  EXPECT_EQ(ras.Handle(), "wifi1");
  ras.Disconnect();  // found, not dialled: never hung up by it
  EXPECT_EQ(ras.Handle(), "");

  ras.SetForceService(true);
  ras.Connect();
  EXPECT_TRUE(ras.Dialled());
  EXPECT_EQ(manager.calls,
            (Texts{"ListEntries", "ListEntries", "ListConnections",
                   "GetIpAddress lan1", "GetIpAddress wifi1",
                   "ListConnections", "GetDialParams Office",
                   "SetDialParams Office olaf removing password",
                   "Dial Office"}));
}

TEST_F(DialUpFind, TheServiceUpAlreadyIsUsed) {
  manager.connections = {{{"pppoe7", "Office"}, ""}};
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.Connect();
  EXPECT_FALSE(ras.Dialled());
  EXPECT_EQ(ras.Handle(), "pppoe7");
}

TEST_F(DialUpFind, FailuresOfTheManagerAreRaisedWithTheirCodes) {
  manager.connections = {{{"lan1", "Wired"}, "10.0.0.1"}};
  manager.error_texts[610] = "The buffer is invalid.";
  TagRas& ras = Ras();
  ras.SetForceService(false);
  manager.ip_address_result = 611;
  try {
    ras.Connect();
    FAIL();
  } catch (const ERASError& error) {
    EXPECT_EQ(error.Code(), 611);
    EXPECT_STREQ(error.what(), "RAS error no 611");
  }
  manager.list_connections_result = 610;
  try {
    ras.Connect();
    FAIL();
  } catch (const ERASError& error) {
    EXPECT_EQ(error.Code(), 610);
    EXPECT_STREQ(error.what(), "The buffer is invalid.");
  }
  EXPECT_FALSE(ras.Connected());
}

using DialUpDial = DialUpFixture;

TEST_F(DialUpDial, GivenCredentialsDialWithProgressTextsInOrder) {
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.SetUserName("  olga ");
  ras.SetPassword("secret");
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  EXPECT_TRUE(ras.Dialled());
  EXPECT_EQ(ras.Handle(), "call1");
  ASSERT_EQ(manager.dialled.size(), 1u);
  EXPECT_EQ(manager.dialled[0].user_name, "olga");
  EXPECT_EQ(manager.dialled[0].password, "secret");
  // Asked to forget the password once dialled.
  EXPECT_EQ(manager.stored["Office"].password, "");
  ras.Disconnect();
  ras.Disconnect();  // once hung up, nothing more to hang up
  EXPECT_EQ(texts, (Texts{"Initializing...", "Dialing...",
                          "Verifying user name and password",
                          "User name and password verified",
                          "Successfully connected", "(down)"}));
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
  EXPECT_FALSE(ras.Connected());
}

TEST_F(DialUpDial, StoredPasswordIsUsedAndTheGivenOneIgnored) {
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Home");
  ras.SetPassword("other");
  ras.SetRemovePassword(false);
  ras.Connect();
  ASSERT_EQ(manager.dialled.size(), 1u);
  EXPECT_EQ(manager.dialled[0].user_name, "hilda");
  EXPECT_EQ(manager.dialled[0].password, "kept");
  for (const std::string& call : manager.calls) {
    EXPECT_EQ(call.find("SetDialParams"), std::string::npos) << call;
  }
}

TEST_F(DialUpDial, KeptPasswordStaysWhenItIsNotToBeRemoved) {
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.SetPassword("secret");
  ras.SetRemovePassword(false);
  ras.Connect();
  EXPECT_EQ(manager.stored["Office"].password, "secret");
  EXPECT_EQ(manager.dialled[0].user_name, "olaf");
}

TEST_F(DialUpDial, FailureDuringTheWaitHangsUpAndRaises) {
  manager.dial_progress = {{kRasPortOpened, 0}, {kRasAuthenticate, 691}};
  manager.error_texts[691] = "Access denied.";
  TagRas& ras = Ras();
  ras.SetService("Office");
  try {
    ras.Connect();
    FAIL();
  } catch (const ERASError& error) {
    EXPECT_EQ(error.Code(), 691);
    EXPECT_STREQ(error.what(), "Access denied.");
  }
  EXPECT_EQ(texts, (Texts{"Dialing...", "", "(down)"}));
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
  EXPECT_EQ(ras.Handle(), "");
}

TEST_F(DialUpDial, RefusedDialHangsUpAndRaises) {
  manager.dial_result = 633;
  TagRas& ras = Ras();
  ras.SetService("Office");
  EXPECT_THROW(ras.Connect(), ERASError);
  EXPECT_EQ(ras.LastResult(), 633);
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
}

TEST_F(DialUpDial, DisconnectWhileWaitingCancels) {
  TagRas& ras = Ras();
  ras.SetService("Office");
  CurrentPump().Post([&ras] { ras.Disconnect(); });
  EXPECT_THROW(ras.Connect(), ECanceledError);
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
  EXPECT_EQ(texts, (Texts{"(down)"}));
}

TEST_F(DialUpDial, TimeOutLeavesTheCallInProgress) {
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.SetTimeOut(1);
  EXPECT_THROW(ras.Connect(), ETimedOutError);
  EXPECT_EQ(ras.Handle(), "call1");
  EXPECT_EQ(manager.calls.back(), "Dial Office");
  // The call goes on and may still come up.
  manager.Report(kRasConnected, 0);
  ProcessMessages();
  EXPECT_TRUE(ras.Connected());
  ras.Disconnect();
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
}

TEST_F(DialUpDial, ErrorAfterTheConnectedStateIsRaisedWhereMessagesAreDispatched) {
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.Connect();
  manager.Report(kRasDisconnected, 629);
  try {
    ProcessMessages();
    FAIL();
  } catch (const ERASError& error) {
    EXPECT_EQ(error.Code(), 629);
    EXPECT_STREQ(error.what(), "RAS error no 629");
  }
  EXPECT_EQ(ras.LastResult(), 629);
}

TEST_F(DialUpDial, ErrorRightAfterConnectingHangsUpBeforeConnectRaises) {
  manager.dial_progress = {{kRasConnected, 0}, {kRasDisconnected, 629}};
  TagRas& ras = Ras();
  ras.SetService("Office");
  EXPECT_THROW(ras.Connect(), ERASError);
  EXPECT_EQ(manager.calls.back(), "HangUp call1");
  EXPECT_FALSE(ras.Connected());
}

TEST_F(DialUpDial, MinimizeAtConnectAsksForTheDialWindow) {
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  ras.SetMinimizeAtConnect(true);
  ras.Connect();
  EXPECT_EQ(manager.calls.back(), "MinimizeDialWindow");
}

TEST_F(DialUpDial, SocketDialsBeforeOpeningAndHangsUpAfterClosing) {
  test::ScriptedServer server("S: +OK\n");
  DialSucceeds();
  TagRas& ras = Ras();
  ras.SetService("Office");
  TagSocket socket;
  socket.SetRAS(&ras);
  socket.SetServer(server.Address());
  socket.OnOpen = [this](TagSocket&) { texts.push_back("(open)"); };
  socket.ResetState();
  socket.Open();
  socket.ConnectSocket();
  EXPECT_EQ(socket.ReadLine(), -1);
  EXPECT_EQ(socket.LastReply(), "+OK");
  socket.Close();
  EXPECT_EQ(texts, (Texts{"Initializing...", "Dialing...",
                          "Verifying user name and password",
                          "User name and password verified",
                          "Successfully connected", "(open)", "(down)"}));
}

}  // namespace
}  // namespace quillon
