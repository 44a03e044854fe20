// A build with Qt has two tools: quillon-tool without Qt, which hands the
// Qt groups (and `receive`, which prints and announces through Qt) to
// quillon-tool-qt beside it. Both must answer every command line alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/tool_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using test::RunShell;
using test::ToolPath;
using test::ToolRun;
using test::ToolStderr;

std::string PeerPath() { return ToolPath() + "-qt"; }

class QtPeerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(PeerPath())) GTEST_SKIP() << "built without Qt";
  }
};

TEST_F(QtPeerTest, ToolLoadsNoQtLibraryButThePeerDoes) {
  // glibc's loader lists the libraries it would map, without running main.
  const auto loaded = [](const std::string& program) {
    return RunShell("LD_TRACE_LOADED_OBJECTS=1 " + program).output;
  };
  const std::string tool_libraries = loaded(ToolPath());
  const std::string peer_libraries = loaded(PeerPath());
  ASSERT_NE(tool_libraries.find("libc.so"), std::string::npos) << tool_libraries;
  EXPECT_EQ(tool_libraries.find("libQt"), std::string::npos) << tool_libraries;
  EXPECT_NE(peer_libraries.find("libQt"), std::string::npos) << peer_libraries;
}

TEST_F(QtPeerTest, EveryCommandLineAnswersAsThePeer) {
  for (const char* arguments :
       {"", "help", "--help", "print", "talker", "dialup frobnicate",
        "receive", "no-such-group", "mime"}) {
    SCOPED_TRACE(arguments);
    const ToolRun tool = RunShell(ToolPath() + " " + arguments, ToolStderr::kMerged);
    const ToolRun peer = RunShell(PeerPath() + " " + arguments, ToolStderr::kMerged);
    EXPECT_EQ(tool.exit_code, peer.exit_code);
    EXPECT_EQ(tool.output, peer.output);
  }
  const ToolRun help = RunShell(ToolPath() + " help");
  EXPECT_NE(help.output.find("\n  print MSGFILE"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("\n  talker "), std::string::npos) << help.output;
}

class QtPeerCopyTest : public QtPeerTest {
 protected:
  void SetUp() override {
    QtPeerTest::SetUp();
    if (IsSkipped()) return;
    directory_ = fs::temp_directory_path() / ("qt_peer_" + std::to_string(getpid()));
    fs::create_directories(directory_);
    fs::copy_file(ToolPath(), directory_ / "quillon-tool");
  }
  void TearDown() override {
    if (!directory_.empty()) fs::remove_all(directory_);
  }

  ToolRun Run(const std::string& arguments) {
    return RunShell((directory_ / "quillon-tool").string() + " " + arguments,
                    ToolStderr::kMerged);
  }

  fs::path directory_;
};

TEST_F(QtPeerCopyTest, WithoutThePeerTheToolKeepsToItsOwnGroups) {
  const ToolRun help = Run("help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("\n  mime decode"), std::string::npos) << help.output;
  EXPECT_EQ(help.output.find("\n  print "), std::string::npos) << help.output;
  const ToolRun print = Run("print x.eml");
  EXPECT_EQ(print.exit_code, 2);
  EXPECT_NE(print.output.find("unknown group \"print\""), std::string::npos)
      << print.output;
  EXPECT_EQ(Run("mime").exit_code, 2);
}

TEST_F(QtPeerCopyTest, QtGroupsAndReceiveGoToThePeerWithTheirArguments) {
  const fs::path peer = directory_ / "quillon-tool-qt";
  {
    std::ofstream script(peer);
    script << "#!/bin/sh\necho \"$0 | $*\"\nexit 7\n";
  }
  fs::permissions(peer, fs::perms::owner_all);
  for (const char* arguments :
       {"", "help", "print x.eml --pdf 'a b.pdf'", "talker send hi",
        "receive d 1 2 m.eml", "no-such-group"}) {
    SCOPED_TRACE(arguments);
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.exit_code, 7);
    EXPECT_EQ(run.output, peer.string() + " | " +
                              RunShell(std::string("echo ") + arguments).output);
  }
  const ToolRun mime = Run("mime");
  EXPECT_EQ(mime.exit_code, 2);
  EXPECT_NE(mime.output.find("quillon-tool mime:"), std::string::npos) << mime.output;
}

}  // namespace
}  // namespace quillon
