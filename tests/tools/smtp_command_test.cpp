// quillon-tool smtp send, run as a program against aiosmtpd.
#include <stdio.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/temp_file.h"
#include "tests/support/tool_run.h"
#include "tests/support/smtp_sink.h"

namespace quillon {
namespace {

using json = nlohmann::json;
using test::SmtpSink;

using test::RunTool;
using test::ToolRun;
using test::ToolStderr;

class SmtpCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SmtpSink::Available()) GTEST_SKIP() << "aiosmtpd is not available";
    sink = std::make_unique<SmtpSink>();
    path = std::filesystem::path(TempDirectory()) /
           ("smtp-command-" + std::to_string(::getpid()) + ".json");
  }
  void TearDown() override { std::filesystem::remove(path); }
  void WriteMessage(const json& message) {
    std::ofstream out(path);
    out << message.dump();
  }
  std::unique_ptr<SmtpSink> sink;
  std::filesystem::path path;
};

TEST_F(SmtpCommand, SendsTheDescribedMessage) {
  WriteMessage(json{{"sender", {{"name", "Me"}, {"address", "me@example.org"}}},
                    {"recipients", json::array({{{"name", "You"}, {"address", "you@example.org"}}})},
                    {"bcc", json::array({{{"address", "hidden@example.org"}}})},
                    {"subject", "Hello"},
                    {"body", json::array({"line one", ".line two", "."})},
                    {"attachments", json::array({{{"file_name", "a.bin"},
                                                  {"data_base64", "AAEC"}}})}});
  const ToolRun run = RunTool("smtp --server " + sink->Address() + " send " + path.string(), ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["sent"], true);
  const auto messages = sink->WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].mail_from, "me@example.org");
  EXPECT_EQ(messages[0].recipients,
            (std::vector<std::string>{"you@example.org", "hidden@example.org"}));
  EXPECT_NE(messages[0].data.find("\r\n.line two\r\n"), std::string::npos) << messages[0].data;
  EXPECT_NE(messages[0].data.find("a.bin"), std::string::npos);
}

TEST_F(SmtpCommand, RejectedRecipientFailsUnlessSkipped) {
  WriteMessage(json{{"sender", {{"address", "me@example.org"}}},
                    {"recipients", json::array({{{"address", "reject@example.org"}},
                                                {{"address", "ok@example.org"}}})},
                    {"body", json::array({"text"})}});
  ToolRun run = RunTool("smtp --server " + sink->Address() + " send " + path.string(), ToolStderr::kMerged);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("550"), std::string::npos) << run.output;

  run = RunTool("smtp --server " + sink->Address() + " --skip-rejected send " + path.string(), ToolStderr::kMerged);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  EXPECT_EQ(json::parse(run.output)["rejected"][0]["address"], "reject@example.org");
  const auto messages = sink->WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].recipients, (std::vector<std::string>{"ok@example.org"}));
}

}  // namespace
}  // namespace quillon
