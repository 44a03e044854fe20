// Parameter files as a crash or a full disk may leave them: read without
// crashing, values that do not parse give their defaults, and a file that
// exists but cannot be read is an error naming it, never a run with
// defaults in place of its keys.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/ini_file.h"
#include "rules/run_state.h"
#include "store/record_file.h"

namespace quillon {
namespace {

std::string RandomBytes(std::size_t size) {
  std::mt19937 random(14);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

template <std::size_t N>
std::string WithNuls(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const std::string kWhole =
    "[Login]\r\nHost=pop.example.org\r\nUser=anna\r\nPassword=secret\r\n"
    "TimeOut=30\r\nPort=995\r\nDelete Messages=1\r\n[UserInfo]\r\nAccount=3\r\n";

struct ParameterCase {
  const char* name;
  std::string content;
  std::string host;
  int timeout;
  int account;
};

class DamagedParameterFileTest : public ::testing::TestWithParam<ParameterCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-damaged-params-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string directory_;
};

TEST_P(DamagedParameterFileTest, ReadsWhatIsThereAndDefaultsTheRest) {
  const ParameterCase& c = GetParam();
  const std::string path = directory_ + "/run.ini";
  std::ofstream(path, std::ios::binary) << c.content;
  RunState state;
  ReadRunParameters(IniFile(path), state, nullptr, nullptr);
  EXPECT_EQ(state.Pop3.Host, c.host);
  EXPECT_EQ(state.Pop3.TimeOut, c.timeout);
  EXPECT_EQ(state.CurrentAccountId, c.account);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedParameterFileTest,
    ::testing::Values(
        ParameterCase{"ZeroLength", "", "", 120, -1},
        ParameterCase{"CutInsideAKey", kWhole.substr(0, kWhole.find("Account") + 3),
                      "pop.example.org", 30, -1},
        ParameterCase{"NumbersBeyondRange",
                      "[Login]\nTimeOut=99999999999999999999\n"
                      "[UserInfo]\nAccount=0x7FFFFFFFFFFF\n",
                      "", 120, -1},
        ParameterCase{"NulBytesAndLoneCarriageReturns",
                      WithNuls("[Login]\rHost=a\0b\r\n[UserInfo]\nAccount=\0"),
                      "", 120, -1},
        ParameterCase{"RandomBytes", RandomBytes(4096), "", 120, -1},
        ParameterCase{"AMegabyteLine",
                      "[Login]\nHost=" + std::string(1 << 20, 'h') + "\nTimeOut=7\n",
                      std::string(1 << 20, 'h'), 7, -1}),
    [](const ::testing::TestParamInfo<ParameterCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(DamagedParameterFileTest, AFileThatCannotBeReadIsAnErrorNamingIt) {
  // A directory where the file should be: it exists, and reading it fails.
  const std::string path = directory_ + "/run.ini";
  std::filesystem::create_directory(path);
  RunState state;
  try {
    ReadRunParameters(IniFile(path), state, nullptr, nullptr);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), EISDIR);
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  EXPECT_EQ(state.CurrentAccountId, -1);  // nothing read
}

}  // namespace
}  // namespace quillon
