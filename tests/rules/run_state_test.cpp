// Run parameters from the parameter file and the language argument.
#include "rules/run_state.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ini_file.h"

namespace quillon {
namespace {

class RunParametersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-params-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  RunState Read(const std::string& content) {
    const std::string path = directory_ + "/run.ini";
    std::ofstream(path) << content;
    RunState state;
    ReadRunParameters(IniFile(path), state, nullptr, nullptr);
    return state;
  }

  std::string directory_;
};

TEST_F(RunParametersTest, MissingFileGivesTheDefaults) {
  RunState state;
  state.CurrentAccountId = 42;
  ReadRunParameters(IniFile(directory_ + "/absent.ini"), state, nullptr,
                    nullptr);
  EXPECT_EQ(state.Pop3.Host, "");
  EXPECT_EQ(state.Pop3.User, "");
  EXPECT_EQ(state.Pop3.Password, "");
  EXPECT_EQ(state.Pop3.TimeOut, 120);
  EXPECT_EQ(state.Pop3.Port, 110);
  EXPECT_FALSE(state.DeleteMode);
  EXPECT_EQ(state.MaxMessages, 150);
  EXPECT_EQ(state.CurrentAccountId, -1);
  EXPECT_FALSE(state.ListMode);
  EXPECT_EQ(state.ListName, "");
  EXPECT_EQ(state.RetrievedName, "");
}

TEST_F(RunParametersTest, ReadsEveryKeyOfBothSections) {
  const RunState state = Read(
      "[Login]\nHost=pop.example.org\nUser=anna\nPassword=se cret\n"
      "TimeOut=30\nPort=995\nDelete Messages=1\nMax Messages=20\n"
      "ManualRetrieve=1\nAttach Path=C:\\x\n"
      "[UserInfo]\nAccount=3\nBy List=1\nList Name=/tmp/list.txt\n"
      "Retrieved Name=/tmp/retrieved.txt\n");
  EXPECT_EQ(state.Pop3.Host, "pop.example.org");
  EXPECT_EQ(state.Pop3.User, "anna");
  EXPECT_EQ(state.Pop3.Password, "se cret");
  EXPECT_EQ(state.Pop3.TimeOut, 30);
  EXPECT_EQ(state.Pop3.Port, 995);
  EXPECT_TRUE(state.DeleteMode);
  EXPECT_EQ(state.MaxMessages, 20);
  EXPECT_EQ(state.CurrentAccountId, 3);
  EXPECT_TRUE(state.ListMode);
  EXPECT_EQ(state.ListName, "/tmp/list.txt");
  EXPECT_EQ(state.RetrievedName, "/tmp/retrieved.txt");
}

TEST(Pop3ServerAddressTest, ThePortGoesWithTheHostUnlessItHasOne) {
  Pop3Parameters parameters;
  parameters.Host = "pop.example.org";
  parameters.Port = 1110;
  EXPECT_EQ(Pop3ServerAddress(parameters), "pop.example.org:1110");
  parameters.Host = "pop.example.org:995";
  EXPECT_EQ(Pop3ServerAddress(parameters), "pop.example.org:995");
  parameters.Host = "[::1]:110";
  EXPECT_EQ(Pop3ServerAddress(parameters), "[::1]:110");
  parameters.Host = "";
  EXPECT_EQ(Pop3ServerAddress(parameters), "");
}

TEST_F(RunParametersTest, SecurityAndCaFileChooseTheEncryptionElseThePortDoes) {
  RunState state = Read("[Login]\nSecurity= StartTLS \nCAFile=/etc/private-ca.pem\n");
  EXPECT_EQ(state.Pop3.Security, TSecurity::kStartTls);
  EXPECT_EQ(state.Pop3.CAFile, "/etc/private-ca.pem");
  EXPECT_EQ(ConnectionSecurity(state.Pop3.Security, "pop.example.org:995", 110),
            TSecurity::kStartTls);

  state = Read("[Login]\nHost=pop.example.org\n");
  EXPECT_EQ(state.Pop3.Security, std::nullopt);
  EXPECT_EQ(state.Pop3.CAFile, "");
  // Without the key the port decides, so older files connect as before.
  EXPECT_EQ(ConnectionSecurity(std::nullopt, "pop.example.org:995", 110), TSecurity::kTls);
  EXPECT_EQ(ConnectionSecurity(std::nullopt, "imap.example.org", 993), TSecurity::kTls);
  EXPECT_EQ(ConnectionSecurity(std::nullopt, "pop.example.org:110", 995), TSecurity::kNone);
  EXPECT_EQ(ConnectionSecurity(std::nullopt, "imap.example.org", 143), TSecurity::kNone);

  EXPECT_EQ(ReplySecurity("smtp.example.org:465"), TSecurity::kTls);
  EXPECT_EQ(ReplySecurity("smtp.example.org"), TSecurity::kOpportunistic);
  EXPECT_EQ(ReplySecurity("smtp.example.org:587"), TSecurity::kOpportunistic);

  // A value that is none of the three leaves the run unstarted rather
  // than guess whether the password may go out in clear text.
  EXPECT_THROW(Read("[Login]\nSecurity=ssl\n"), std::runtime_error);
}

TEST_F(RunParametersTest, IntegersAndBooleansAreReadTheIniWay) {
  const RunState state = Read(
      "[login]\ntimeout=abc\nport=70000\ndelete messages=2\n"
      "max messages= 0x10 \n[USERINFO]\naccount=-5\nby list=0\n");
  EXPECT_EQ(state.Pop3.TimeOut, 120);         // not a number: the default
  EXPECT_EQ(state.Pop3.Port, 70000 - 65536);  // kept as a 16-bit word
  EXPECT_TRUE(state.DeleteMode);              // any non-zero integer
  EXPECT_EQ(state.MaxMessages, 16);
  EXPECT_EQ(state.CurrentAccountId, -5);
  EXPECT_FALSE(state.ListMode);
}

TEST_F(RunParametersTest, HooksRunAfterAccountAndAfterTheLastKey) {
  const std::string path = directory_ + "/run.ini";
  std::ofstream(path) << "[UserInfo]\nAccount=7\nBy List=1\n"
                         "Retrieved Name=r.txt\n";
  RunState state;
  std::vector<std::string> seen;
  ReadRunParameters(
      IniFile(path), state,
      [&] {
        seen.push_back("account " + std::to_string(state.CurrentAccountId) +
                       (state.ListMode ? " list" : " no list"));
      },
      [&] { seen.push_back("rules " + state.RetrievedName); });
  EXPECT_EQ(seen,
            (std::vector<std::string>{"account 7 no list", "rules r.txt"}));
}

TEST_F(RunParametersTest, FailingAccountLookupStopsTheReading) {
  const std::string path = directory_ + "/run.ini";
  std::ofstream(path) << "[UserInfo]\nAccount=7\nBy List=1\n";
  RunState state;
  EXPECT_THROW(ReadRunParameters(
                   IniFile(path), state,
                   [] { throw std::runtime_error("accounts file unreadable"); },
                   nullptr),
               std::runtime_error);
  EXPECT_EQ(state.CurrentAccountId, 7);
  EXPECT_FALSE(state.ListMode);
}

struct LanguageCase {
  const char* name;
  std::vector<const char*> arguments;
  int expected;
};

class LanguageArgumentTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageArgumentTest, SecondArgumentAsInteger) {
  const auto& arguments = GetParam().arguments;
  EXPECT_EQ(LanguageIndexFromArguments(static_cast<int>(arguments.size()),
                                       arguments.data()),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, LanguageArgumentTest,
    ::testing::Values(LanguageCase{"NoArguments", {}, 0},
                      LanguageCase{"OnlyTheParameterFile", {"run.ini"}, 0},
                      LanguageCase{"One", {"run.ini", "1"}, 1},
                      LanguageCase{"NotANumber", {"run.ini", "x"}, 0},
                      LanguageCase{"Two", {"run.ini", "2"}, 2},
                      LanguageCase{"PastAByte", {"run.ini", "256"}, 256},
                      LanguageCase{"Empty", {"run.ini", ""}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillon
