// The NetworkManager connection manager under TagRas, against python-
// dbusmock's NetworkManager template on a private bus that stands in for
// the system bus: listing profiles, finding a connection that is up,
// dialling to the activated state, a failing activation, hanging up.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/network_manager_dialer.h"
#include "net/ag_ras.h"
#include "platform/message_pump.h"
#include "tests/app/qt_test_application.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

using Texts = std::vector<std::string>;

constexpr char kPython[] = "/usr/bin/python3";
constexpr char kFixtureInterface[] = "org.quillon.TestFixture";
constexpr auto kStartDeadline = std::chrono::seconds(20);
// A dial that the mock does not finish fails the test instead of waiting
// the component's two minutes.
constexpr int kDialTimeOut = 20;

// A child process stopped (SIGTERM) and reaped by its id.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  // Starts `arguments`; its standard output goes to `output_fd` (-1: none).
  bool Start(std::vector<std::string> arguments, int output_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, output_fd, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawnp(&pid_, argv[0], &actions, nullptr,
                                     argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) pid_ = -1;
    return pid_ > 0;
  }

 private:
  pid_t pid_ = -1;
};

bool DbusmockInstalled() {
  return access(kPython, X_OK) == 0 &&
         std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
}

// A private bus named as the system bus (DBUS_SYSTEM_BUS_ADDRESS), and on
// request the NetworkManager template on it.
class NetworkManagerMock : public ::testing::Test {
 protected:
  void SetUp() override {
    test::TestApplication();
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
      GTEST_SKIP() << "dbus-daemon is not installed";
    }
    if (!DbusmockInstalled()) GTEST_SKIP() << "python3-dbusmock is not installed";
    ASSERT_TRUE(StartBus());
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("nm-fixture"));
  }

  bool StartBus() {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return false;
    const bool started = bus_.Start(
        {"dbus-daemon", "--session", "--nofork", "--print-address=1"},
        pipe_ends[1]);
    close(pipe_ends[1]);
    FILE* output = fdopen(pipe_ends[0], "r");
    char line[512] = {};
    const bool read = output != nullptr && fgets(line, sizeof line, output);
    if (output != nullptr) fclose(output);
    if (!started || !read) return false;
    std::string address(line);
    while (!address.empty() && address.back() == '\n') address.pop_back();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    fixture_bus_ = QDBusConnection::connectToBus(QString::fromStdString(address),
                                                 QStringLiteral("nm-fixture"));
    return fixture_bus_.isConnected();
  }

  // The template on the bus, with a method that runs Python in the mock
  // (its `self` is the manager object; `result` is what comes back).
  void StartNetworkManager() {
    ASSERT_TRUE(mock_.Start({kPython, "-m", "dbusmock", "--system",
                             "--template", "networkmanager"},
                            -1));
    const QString service = QString::fromLatin1(network_manager_bus::kService);
    const auto deadline = std::chrono::steady_clock::now() + kStartDeadline;
    while (!fixture_bus_.interface()->isServiceRegistered(service)) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline)
          << "the NetworkManager mock did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    QDBusMessage add = QDBusMessage::createMethodCall(
        service, QString::fromLatin1(network_manager_bus::kManagerPath),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddMethod"));
    add << QString::fromLatin1(kFixtureInterface) << QStringLiteral("Run")
        << QStringLiteral("s") << QStringLiteral("s")
        << QStringLiteral("exec(args[0])\nret = str(locals().get('result', ''))");
    ASSERT_EQ(fixture_bus_.call(add).type(), QDBusMessage::ReplyMessage);
  }

  std::string Run(const std::string& python) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(network_manager_bus::kService),
        QString::fromLatin1(network_manager_bus::kManagerPath),
        QString::fromLatin1(kFixtureInterface), QStringLiteral("Run"));
    call << QString::fromStdString(python);
    const QDBusMessage reply = fixture_bus_.call(call);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << reply.errorMessage().toStdString() << "\n" << python;
    if (reply.arguments().isEmpty()) return {};
    return reply.arguments().at(0).toString().toStdString();
  }

  // A PPPoE profile that keeps user "olaf" and no password, and a wired
  // one without credentials.
  void AddProfiles() {
    Run("s = objects['/org/freedesktop/NetworkManager/Settings']\n"
        "s.SettingsAddConnection({'connection': {'id': 'Office DSL', "
        "'type': 'pppoe'}, 'pppoe': {'username': 'olaf'}})\n"
        "s.SettingsAddConnection({'connection': {'id': 'Wired', "
        "'type': '802-3-ethernet'}})\n"
        "p = objects['/org/freedesktop/NetworkManager/Settings/0']\n"
        "p.AddMethod('org.freedesktop.NetworkManager.Settings.Connection', "
        "'UpdateUnsaved', 'a{sa{sv}}', '', 'self.ConnectionUpdate(self, args[0])')");
  }
  // Activation stops at "activating"; the test drives the rest.
  void ActivateOnlyToActivating() {
    Run("self.AddMethod('org.freedesktop.NetworkManager', 'ActivateConnection', "
        "'ooo', 'o', \"ret = dbus.ObjectPath(self.AddActiveConnection([], "
        "args[0], '/', 'dial', dbus.UInt32(1)))\")");
  }
  // Emits the dial's StateChanged once Connect waits.
  void PostStateChange(unsigned state, unsigned reason) {
    CurrentPump().Post([this, state, reason] {
      Run("objects['/org/freedesktop/NetworkManager/ActiveConnection/dial']"
          ".EmitSignal('org.freedesktop.NetworkManager.Connection.Active', "
          "'StateChanged', 'uu', [dbus.UInt32(" +
          std::to_string(state) + "), dbus.UInt32(" + std::to_string(reason) +
          ")])");
    });
  }
  std::string CallCount(const std::string& method) {
    return Run("result = len(self.GetMethodCalls('" + method + "'))");
  }
  void Record(TagRas& ras) {
    ras.OnStatusChange = [this](TagRas&, const std::string& text) {
      texts.push_back(text);
    };
    ras.ShowErrorBox = [this](const std::string& text) { boxes.push_back(text); };
  }

  Texts texts;
  Texts boxes;

 private:
  Child bus_;
  Child mock_;
  QDBusConnection fixture_bus_{QString()};
};

TEST_F(NetworkManagerMock, WithoutNetworkManagerNothingIsListed) {
  NetworkManagerDialer dialer;
  EXPECT_FALSE(dialer.Available());
  TagRas ras(dialer);
  Record(ras);
  EXPECT_TRUE(ras.Entries().empty());
  ras.SetService("Office DSL");
  EXPECT_EQ(boxes, Texts{kNoRasInstalledText});
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
}

TEST_F(NetworkManagerMock, ProfilesAreEntriesAndAConnectionWithAnAddressServes) {
  StartNetworkManager();
  AddProfiles();
  Run("path = self.AddActiveConnection([], "
      "'/org/freedesktop/NetworkManager/Settings/1', '/', 'up', dbus.UInt32(2))\n"
      "self.AddObject('/org/freedesktop/NetworkManager/IP4Config/1', "
      "'org.freedesktop.NetworkManager.IP4Config', {'AddressData': dbus.Array("
      "[{'address': '192.168.7.2', 'prefix': dbus.UInt32(24)}], "
      "signature='a{sv}')}, [])\n"
      "objects[path].AddProperty('org.freedesktop.NetworkManager.Connection."
      "Active', 'Ip4Config', dbus.ObjectPath("
      "'/org/freedesktop/NetworkManager/IP4Config/1'))");
  NetworkManagerDialer dialer;
  ASSERT_TRUE(dialer.Available());
  std::string address;
  EXPECT_EQ(dialer.GetIpAddress(
                "/org/freedesktop/NetworkManager/ActiveConnection/up", address),
            0);
  EXPECT_EQ(address, "192.168.7.2");

  TagRas ras(dialer);
  Record(ras);
  EXPECT_EQ(ras.Entries(), (Texts{"Office DSL", "Wired"}));
  ras.SetService("Office DSL");
  ras.SetForceService(false);
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  EXPECT_FALSE(ras.Dialled());
  EXPECT_EQ(ras.Handle(), "/org/freedesktop/NetworkManager/ActiveConnection/up");
  EXPECT_EQ(CallCount("ActivateConnection"), "0");
  ras.SetService("Dial-in");
  EXPECT_EQ(ras.Service(), "");
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(NetworkManagerMock, DiallingReportsTheTextsInOrderAndHangsUp) {
  StartNetworkManager();
  AddProfiles();
  ActivateOnlyToActivating();
  NetworkManagerDialer dialer;
  TagRas ras(dialer);
  Record(ras);
  ras.SetService("Office DSL");
  ras.SetUserName("olga");
  ras.SetPassword("secret");
  ras.SetTimeOut(kDialTimeOut);
  PostStateChange(kNmActivated, 0);
  ras.Connect();
  EXPECT_TRUE(ras.Dialled());
  EXPECT_EQ(texts, (Texts{"Dialing...", "Verifying user name and password",
                          "User name and password verified",
                          "Successfully connected"}));
  // The credentials went to the profile, in memory only.
  EXPECT_EQ(Run("result = objects['/org/freedesktop/NetworkManager/Settings/0']"
                ".settings['pppoe']['username'] + ':' + objects["
                "'/org/freedesktop/NetworkManager/Settings/0']"
                ".settings['pppoe']['password']"),
            "olga:secret");
  EXPECT_EQ(Run("p = objects['/org/freedesktop/NetworkManager/Settings/0']\n"
                "result = (len(p.GetMethodCalls('UpdateUnsaved')), "
                "len(p.GetMethodCalls('Update')))"),
            "(1, 0)");
  ras.Disconnect();
  EXPECT_EQ(Run("result = self.GetMethodCalls('DeactivateConnection')[0][1][0]"),
            "/org/freedesktop/NetworkManager/ActiveConnection/dial");
}

TEST_F(NetworkManagerMock, FailingActivationRaisesItsCode) {
  StartNetworkManager();
  AddProfiles();
  ActivateOnlyToActivating();
  NetworkManagerDialer dialer;
  TagRas ras(dialer);
  Record(ras);
  ras.SetService("Wired");
  ras.SetTimeOut(kDialTimeOut);
  PostStateChange(kNmDeactivated, 10);  // login failed
  try {
    ras.Connect();
    FAIL();
  } catch (const ERASError& error) {
    EXPECT_EQ(error.Code(), 691);
    EXPECT_STREQ(error.what(), "RAS error no 691");
  }
  // A wired profile does not authenticate.
  EXPECT_EQ(texts, (Texts{"Dialing...", ""}));
  EXPECT_EQ(ras.Handle(), "");
}

TEST_F(NetworkManagerMock, DiallingAProfileThatIsUpDoesNotRestartIt) {
  StartNetworkManager();
  AddProfiles();
  NetworkManagerDialer dialer;
  TagRas ras(dialer);
  Record(ras);
  ras.SetService("Wired");
  ras.SetTimeOut(kDialTimeOut);
  ras.Connect();
  const ConnectionHandle first = ras.Handle();
  ras.Connect();  // its own call is not taken as found: it dials again
  EXPECT_EQ(ras.Handle(), first);
  EXPECT_EQ(CallCount("ActivateConnection"), "1");
  EXPECT_EQ(texts, (Texts{"Dialing...", "Successfully connected", "Dialing...",
                          "Successfully connected"}));
}

TEST_F(NetworkManagerMock, ToolListsDialsShowsAndHangsUp) {
  StartNetworkManager();
  AddProfiles();
  test::ToolRun run = test::RunTool("dialup list");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "Office DSL\nWired\n");
  // The template activates at once.
  run = test::RunTool("dialup connect Wired --timeout 20");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.output, "Dialing...\nSuccessfully connected\n");
  run = test::RunTool("dialup status");
  EXPECT_EQ(run.output, "Wired\t\n");
  run = test::RunTool("dialup connect 'Dial-in'", test::ToolStderr::kMerged);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("\"Dial-in\" is not recognized."), std::string::npos)
      << run.output;
  EXPECT_EQ(test::RunTool("dialup hangup Wired").exit_code, 0);
  EXPECT_EQ(CallCount("DeactivateConnection"), "1");
}

}  // namespace
}  // namespace quillon
