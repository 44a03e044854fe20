// The program as the main application starts it: build/bin/quillon with a
// parameter file and a language, a temporary data directory, no display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/ini_file.h"
#include "store/account_record.h"
#include "store/user_record.h"

extern char** environ;

namespace quillon {
namespace {

namespace fs = std::filesystem;

struct ProgramResult {
  int exit_code = -1;
  std::string output;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-program-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    data_ = directory_ + "/data";
    fs::create_directory(data_);
    ASSERT_TRUE(fs::exists(kProgram))
        << kProgram << " is missing: build the quillon target first";
  }
  void TearDown() override { fs::remove_all(directory_); }

  void WriteFile(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void WriteAccount(const std::string& address) const {
    AccountRecord account;
    account.Id = 2;
    account.UserId = 5;
    account.EMailAddress = address;
    WriteFile(data_ + "/" + kAccountsFileName,
              std::string(2584, '\0') + account.ToBytes());
    UserRecord user;
    user.Id = 5;
    WriteFile(data_ + "/" + kUsersFileName,
              std::string(1188, '\0') + user.ToBytes());
  }
  std::string WriteParameters(const std::string& path) const {
    WriteFile(path,
              "[Login]\nHost=127.0.0.1\nPort=110\n[UserInfo]\nAccount=2\n");
    return path;
  }

  // Runs the program in `working_directory` without a display and waits
  // for it to end (a generous bound turns a hang into a failure).
  ProgramResult Run(const std::vector<std::string>& arguments,
                    const std::string& working_directory) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("DISPLAY=", 0) == 0 ||
          text.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
          text.rfind("QUILLON_", 0) == 0 || text.rfind("QT_QPA_", 0) == 0) {
        continue;
      }
      environment.push_back(text);
    }
    environment.push_back("QUILLON_DATA_DIR=" + data_);
    environment.push_back("QUILLON_SHOW_STATE=1");

    const std::string output_path = directory_ + "/output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
    std::vector<char*> argv{const_cast<char*>(kProgram)};
    for (const auto& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    ProgramResult result;
    const int spawned = ::posix_spawn(&pid, kProgram, &actions, nullptr,
                                      argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << kProgram;
      return result;
    }
    result.exit_code = WaitForExit(pid);
    result.output = ReadFile(output_path);
    return result;
  }

  static int WaitForExit(pid_t pid) {
    FileHandle process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    pollfd entry{process.Get(), POLLIN, 0};
    if (!process.IsOpen() || ::poll(&entry, 1, 60000) != 1) {
      ADD_FAILURE() << "the program did not end by itself";
      ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static constexpr const char* kProgram = QUILLON_BINARY_DIR "/bin/quillon";
  std::string directory_;
  std::string data_;
};

TEST_F(ProgramTest, ShowsTheAccountDeletesTheParametersAndEnds) {
  WriteAccount("anna@example.org");
  const std::string parameters = WriteParameters(directory_ + "/run.ini");
  const ProgramResult result = Run({parameters}, directory_);
  // No POP3 user: the connection fails, the run still ends by itself.
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_FALSE(fs::exists(parameters));
  EXPECT_NE(result.output.find("quillon: Corvane - Receiving messages...\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(
      result.output.find("quillon: Retrieving messages for anna@example.org\n"),
      std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("quillon: Message: Preparing retrieval...\n"),
            std::string::npos)
      << result.output;
  EXPECT_TRUE(fs::is_directory(data_ + "/In"));
}

TEST_F(ProgramTest, LanguageOneShowsTheIcelandicTexts) {
  WriteAccount("anna@example.org");
  const ProgramResult result =
      Run({WriteParameters(directory_ + "/run.ini"), "1"}, directory_);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_NE(result.output.find("quillon: S\u00e6ki p\u00f3st...\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find(
                "quillon: S\u00e6ki p\u00f3st fyrir anna@example.org\n"),
            std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("quillon: Skilabo\u00f0: Undirb\u00fd "
                               "p\u00f3stflutning...\n"),
            std::string::npos)
      << result.output;
}

TEST_F(ProgramTest, UnreadableAccountsFileStillDeletesAndEnds) {
  WriteFile(data_ + "/" + kAccountsFileName, "short");
  const std::string parameters = WriteParameters(directory_ + "/run.ini");
  const ProgramResult result = Run({parameters, "x"}, directory_);
  EXPECT_EQ(result.exit_code, 1);  // the run could not start
  EXPECT_FALSE(fs::exists(parameters));
  EXPECT_EQ(ReadFile(data_ + "/" + kAccountsFileName), "short");
}

TEST_F(ProgramTest, RelativeParameterFileIsTheCallersAndPlacementIsKept) {
  // An account that cannot be read ends the run through the close timer,
  // the way out that applies "Receive.ini" and keeps the placement.
  WriteFile(data_ + "/" + kAccountsFileName, "short");
  WriteParameters(directory_ + "/run.ini");
  WriteFile(data_ + "/Receive.ini", "[Show]\nLeft=10\nTop=20\n");
  const ProgramResult result = Run({"run.ini"}, directory_);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(fs::exists(directory_ + "/run.ini"));
  const IniFile placement(data_ + "/qvnstat.ini");
  EXPECT_EQ(placement.ReadString("RetrieveProgress", "NormPos", "")
                .rfind("10,20,", 0),
            0u);
}

TEST_F(ProgramTest, HelpAndVersionAnswerWithoutTouchingAnyFile) {
  for (const char* option : {"--help", "--version"}) {
    const ProgramResult result = Run({option}, directory_);
    EXPECT_EQ(result.exit_code, 0) << option;
    EXPECT_EQ(result.output.rfind(std::string(option) == "--help"
                                      ? "Usage: quillon PARAMFILE"
                                      : "quillon ",
                                  0),
              0u)
        << result.output;
    // Nothing but the captured output: no data files, no "In" folder.
    EXPECT_TRUE(fs::is_empty(data_)) << option;
  }
}

TEST_F(ProgramTest, WithoutArgumentsItEndsAllTheSame) {
  const ProgramResult result = Run({}, directory_);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_NE(result.output.find("quillon: Retrieving messages for\n"),
            std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace quillon
