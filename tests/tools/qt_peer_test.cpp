// A build with Qt has two tools: quillon-tool without Qt, which hands the
// Qt groups (and `receive`, which prints and announces through Qt) to
// quillon-tool-qt beside it. Both must answer every command line alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
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

TEST_F(QtPeerTest, AloneTheToolKeepsToItsOwnGroups) {
  const fs::path directory =
      fs::temp_directory_path() / ("qt_peer_" + std::to_string(getpid()));
  fs::create_directories(directory);
  const fs::path lone_tool = directory / "quillon-tool";
  fs::copy_file(ToolPath(), lone_tool);

  const ToolRun help = RunShell(lone_tool.string() + " help");
  const ToolRun print = RunShell(lone_tool.string() + " print x.eml", ToolStderr::kMerged);
  const ToolRun mime = RunShell(lone_tool.string() + " mime", ToolStderr::kMerged);
  fs::remove_all(directory);

  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("\n  mime decode"), std::string::npos) << help.output;
  EXPECT_EQ(help.output.find("\n  print "), std::string::npos) << help.output;
  EXPECT_EQ(print.exit_code, 2);
  EXPECT_NE(print.output.find("unknown group \"print\""), std::string::npos)
      << print.output;
  EXPECT_EQ(mime.exit_code, 2);
  EXPECT_NE(mime.output.find("quillon-tool mime:"), std::string::npos) << mime.output;
}

}  // namespace
}  // namespace quillon
