// quillon-tool talker as the program's peer: the "qvn4" program started from
// PATH, and "talker send" from a script.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QProcess>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"
#include "rules/talker_sender.h"
#include "tests/app/talker_test_support.h"

namespace quillon {
namespace {

using namespace std::string_literals;
using test::ListenerPokes;
using test::ListenerThread;
using test::ReceivedPoke;
using test::TemporaryPath;

const std::string kTool = QUILLON_BINARY_DIR "/bin/quillon-tool";

std::string FileText(const std::string& file) {
  std::ifstream input(file, std::ios::binary);
  std::ostringstream text;
  text << input.rdbuf();
  return text.str();
}

// Stops the listener the started "qvn4" became, by the id it wrote, and
// reaps it (it is ours through the subreaper setting of the test main).
class StartedProgram {
 public:
  explicit StartedProgram(std::string pid_file)
      : pid_file_(std::move(pid_file)) {}
  ~StartedProgram() {
    const std::string text = FileText(pid_file_);
    if (text.empty()) return;
    const pid_t pid = std::stoi(text);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

 private:
  std::string pid_file_;
};

int RunTool(const QStringList& arguments) {
  return QProcess::execute(QString::fromStdString(kTool), arguments);
}

TEST(TalkerTool, IsBuilt) {
  ASSERT_TRUE(std::filesystem::exists(kTool))
      << kTool << " is needed by these tests; build the quillon-tool target";
}

TEST(TalkerTool, Qvn4ProgramOnPathIsStartedAndGetsTheCommand) {
  // The main window is there, its service is not: the program "qvn4" (here
  // a script that becomes a service-only listener) is started once.
  TalkerListenerOptions presence_only;
  presence_only.own_service = false;
  ListenerThread main_window(presence_only);
  ASSERT_TRUE(main_window.Started()) << main_window.Error();
  TemporaryPath path(TemporaryPath::Mode::kFirst, "");
  const std::string pid_file = path.Directory() + "/qvn4.pid";
  const std::string output = path.Directory() + "/qvn4.out";
  std::ofstream(path.Directory() + "/qvn4")
      << "#!/bin/sh\necho $$ > '" << pid_file << "'\nexec '" << kTool
      << "' talker listen --service-only > '" << output << "' 2>&1\n";
  std::filesystem::permissions(path.Directory() + "/qvn4",
                               std::filesystem::perms::owner_all);
  StartedProgram started(pid_file);

  DBusTalker::Limits limits;
  // Generous: only the outcome matters here, not how fast the tool starts.
  limits.service_start = std::chrono::seconds(30);
  DBusTalker talker(QDBusConnection::sessionBus(), limits);
  talker.SendTalkerCommand(RecvStartCommand("anna@example.is"));
  EXPECT_EQ(talker.ServiceStarts(), 1);
  ASSERT_EQ(talker.LastOutcome(), TalkerOutcome::kPoked);

  const std::vector<ReceivedPoke> expected = {
      {"TalkerCalls", "RecvStart:anna@example.is\0"s}};
  EXPECT_EQ(ListenerPokes(QString::fromLatin1(talker_bus::kServiceName)),
            expected);
  // The listener prints before it answers the question above.
  EXPECT_EQ(FileText(output), "RecvStart:anna@example.is\\0\n");
}

TEST(TalkerTool, SendDeliversLikeTheProgram) {
  ListenerThread main_application(TalkerListenerOptions{});
  ASSERT_TRUE(main_application.Started()) << main_application.Error();
  EXPECT_EQ(RunTool({"talker", "send", "MessNew:5|120|3"}), 0);
  EXPECT_EQ(RunTool({"talker", "send", "--start-pair", "--show-dl", "a@b"}), 0);
  // The tool's messages were on the bus before it ended, so they are ahead
  // of this question.
  const std::vector<ReceivedPoke> expected = {
      {"TalkerCalls", "MessNew:5|120|3\0"s},
      {"TalkerCalls", "ShowDL:\0"s},
      {"TalkerCalls", "RecvStart:a@b\0"s}};
  EXPECT_EQ(ListenerPokes(main_application.UniqueName()), expected);
}

TEST(TalkerTool, SendWithoutMainApplicationReportsItByExitStatus) {
  EXPECT_EQ(RunTool({"talker", "send", "RecvStop:a@b"}), 3);
}

TEST(TalkerTool, SendToRefusingPeerReportsItByExitStatus) {
  TalkerListenerOptions refusing;
  refusing.advise = AdviseAnswer::kRefuse;
  ListenerThread main_application(refusing);
  ASSERT_TRUE(main_application.Started()) << main_application.Error();
  EXPECT_EQ(RunTool({"talker", "send", "RecvStop:a@b"}), 3);
  const std::vector<ReceivedPoke> expected = {{"", "RecvStop:a@b\0"s}};
  EXPECT_EQ(ListenerPokes(main_application.UniqueName()), expected);
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  return quillon::test::RunWithPrivateBus(argc, argv);
}
