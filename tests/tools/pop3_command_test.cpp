// quillon-tool pop3, run as a program against a private Dovecot.
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/temp_file.h"
#include "tests/support/tool_run.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/test_certificates.h"

namespace quillon {
namespace {

using json = nlohmann::json;
using test::DovecotServer;

using test::RunTool;
using test::ToolRun;
using test::ToolStderr;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Pop3Command : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not available";
    dovecot = std::make_unique<DovecotServer>();
    messages = {"Subject: one\r\n\r\n.dot first\r\nbody\r\n",
                "Subject: two\r\nX-Long: " + std::string(3000, 'x') + "\r\n\r\n" +
                    std::string(200000, 'b') + "\r\n",
                "Subject: three\r\n\r\nno final line break"};
    for (const std::string& message : messages) dovecot->Deliver("joe", message);
    directory = std::filesystem::path(TempDirectory()) /
                ("pop3-command-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    ::setenv("QUILLON_TEST_PASSWORD", "secret", 1);
  }
  void TearDown() override { std::filesystem::remove_all(directory); }
  std::string Base() const {
    return "pop3 --server " + dovecot->Pop3Address() +
           " --user joe --password-env QUILLON_TEST_PASSWORD ";
  }
  std::unique_ptr<DovecotServer> dovecot;
  std::vector<std::string> messages;
  std::filesystem::path directory;
};

TEST_F(Pop3Command, StatListAndTop) {
  ToolRun run = RunTool(Base() + "stat", ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  json stat = json::parse(run.output);
  EXPECT_EQ(stat["messages"], 3);

  run = RunTool(Base() + "list 2", ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["size"], messages[1].size());

  run = RunTool(Base() + "top 1", ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["headers"], json::array({"Subject: one"}));
}

TEST_F(Pop3Command, RetrWritesTheMessageBytes) {
  std::filesystem::create_directories(directory);
  const auto file = directory / "two.eml";
  const ToolRun run = RunTool(Base() + "retr 2 --output " + file.string(), ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(ReadFile(file), messages[1]);
  EXPECT_EQ(dovecot->CountMessages("joe"), 3);
}

TEST_F(Pop3Command, FetchAllKeepsOrDeletes) {
  ToolRun run = RunTool(Base() + "fetch-all " + directory.string(), ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["fetched"], 3);
  EXPECT_EQ(ReadFile(directory / "1.eml"), messages[0]);
  EXPECT_EQ(ReadFile(directory / "2.eml"), messages[1]);
  // Dovecot ends the last line itself.
  EXPECT_EQ(ReadFile(directory / "3.eml"), messages[2] + "\r\n");
  EXPECT_EQ(dovecot->CountMessages("joe"), 3);

  run = RunTool(Base() + "fetch-all " + directory.string() + " --delete", ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["deleted"], 3);
  EXPECT_EQ(dovecot->CountMessages("joe"), 0);
}

TEST_F(Pop3Command, FailuresNeverShowThePassword) {
  ToolRun run = RunTool("pop3 --server " + dovecot->Pop3Address() +
                        " --user joe --password not-the-one stat", ToolStderr::kMerged);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("-ERR"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("not-the-one"), std::string::npos) << run.output;

  run = RunTool("pop3 --server " + dovecot->Pop3Address() +
                " --user joe --password not-the-one --trace stat", ToolStderr::kMerged);
  EXPECT_NE(run.output.find("C: PASS ****"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("not-the-one"), std::string::npos) << run.output;

  run = RunTool(Base() + "dele 9", ToolStderr::kMerged);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(dovecot->CountMessages("joe"), 3);
}

TEST_F(Pop3Command, MissingPasswordIsAUsageError) {
  ::unsetenv("QUILLON_PASSWORD");
  const ToolRun run = RunTool("pop3 --server " + dovecot->Pop3Address() + " --user joe stat", ToolStderr::kMerged);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.output.find("QUILLON_PASSWORD"), std::string::npos) << run.output;
}

TEST(Pop3CommandTls, SecurityCaFileAndVerbose) {
  if (!DovecotServer::Available() || !test::TestCertificates::Available()) {
    GTEST_SKIP() << "Dovecot or openssl is not available";
  }
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  const test::TestCertificate certificate = certificates.Server();
  DovecotServer dovecot({{"joe", "secret"}},
                        DovecotServer::Tls{certificate.certificate_file, certificate.key_file});
  dovecot.Deliver("joe", "Subject: one\r\n\r\nbody\r\n");
  const std::string login = " --user joe --password secret --timeout 20 --verbose ";
  for (const std::string& server :
       {dovecot.Pop3sAddress() + " --security tls", dovecot.Pop3Address() + " --security starttls"}) {
    const ToolRun run = RunTool("pop3 --server " + server + login + "--ca-file " +
                                    certificates.CaFile() + " stat",
                                ToolStderr::kMerged);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("connected to 127.0.0.1 with TLSv1."), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(", cipher "), std::string::npos) << run.output;
  }
  const ToolRun refused = RunTool("pop3 --server " + dovecot.Pop3sAddress() +
                                      " --security tls" + login +
                                      "--ca-file " + certificates.OtherCaFile() + " stat",
                                  ToolStderr::kMerged);
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("The certificate of 127.0.0.1 was not accepted"),
            std::string::npos)
      << refused.output;
  const ToolRun usage = RunTool("pop3 --server x --user joe --security ssl stat",
                                ToolStderr::kMerged);
  EXPECT_EQ(usage.exit_code, 2);
}

}  // namespace
}  // namespace quillon
