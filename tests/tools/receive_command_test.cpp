// quillon-tool receive, run as a program on a store built by "store build",
// with replies and forwards going to a real aiosmtpd on loopback.
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "tests/store/store_test_support.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using test::SmtpSink;
using test::ToolRun;

// User 1 owns account 3; user 2 owns account 4. Rule 5 answers and
// colours questions, rule 6 prints reports.
std::string Description(const std::string& reply_text) {
  json description = {
      {"users", {{{"Id", 1}, {"UserName", "Jon"}, {"Organization", "ACME"}},
                 {{"Id", 2}, {"UserName", "Kim"}}}},
      {"accounts",
       {{{"Id", 3}, {"UserId", 1}, {"EMailAddress", "jon@example.org"},
         {"SenderName", "Jon Doe"}, {"SmtpHost", "127.0.0.1:1"}, {"SmtpTimeOut", 20}},
        {{"Id", 4}, {"UserId", 2}, {"EMailAddress", "kim@example.org"}}}},
      {"folders",
       {{{"FolderId", 10}, {"UserId", 1}, {"AccountId", 3}, {"FolderName", "Inbox"},
         {"FolderKind", 2}},
        {{"FolderId", 11}, {"UserId", 1}, {"AccountId", 3}, {"FolderName", "Questions"}}}},
      {"rules",
       {{{"RuleId", 5}, {"UserId", 1}, {"TargetFolderId", 11}, {"RuleName", "Questions"},
         {"ConditionField", {"Subject"}}, {"ConditionContains", {1}},
         {"ConditionValue", {"question"}}, {"ReplyEnabled", 1},
         {"ReplySubject", "Got it"}, {"ReplyTextFile", reply_text},
         {"ColourEnabled", 1}, {"RuleColourCode", 4}},
        {{"RuleId", 6}, {"UserId", 1}, {"TargetFolderId", 11}, {"RuleName", "Reports"},
         {"ConditionField", {"Subject"}}, {"ConditionContains", {1}},
         {"ConditionValue", {"report"}}, {"PrintEnabled", 1}, {"UseDefaultPrinter", 1}}}}};
  return description.dump();
}

class ReceiveCommandTest : public test::StoreDirectoryTest {
 protected:
  void SetUp() override {
    test::StoreDirectoryTest::SetUp();
    WriteBytes("reply.txt", "Thank you.\r\n");
    WriteBytes("desc.json", Description(PathOf("reply.txt")));
    store_ = PathOf("store");
    ASSERT_EQ(test::RunTool("store build " + PathOf("desc.json") + " " + store_).exit_code, 0);
  }
  ToolRun Receive(const std::string& arguments, const std::string& message) {
    WriteBytes("message.eml", message);
    return test::RunTool("receive " + arguments + " " + PathOf("message.eml"),
                         test::ToolStderr::kMerged);
  }
  std::vector<std::string> StoredNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(store_ + "/In")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string store_;
};

const char kQuestion[] =
    "From: Sue <sue@example.net>\r\n"
    "Subject: A question\r\n"
    "Message-ID: <q1@example.net>\r\n"
    "X-Priority: 1\r\n"
    "\r\n"
    "Anyone there?\r\n";

TEST_F(ReceiveCommandTest, MatchingRuleRepliesThroughTheGivenServerAndReportsAll) {
  if (!SmtpSink::Available()) GTEST_SKIP() << "aiosmtpd is not available";
  SmtpSink sink;
  ToolRun run = Receive(store_ + " 1 3 --smtp " + sink.Address(), kQuestion);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const json result = json::parse(run.output);
  EXPECT_EQ(result["stored"], true);
  EXPECT_EQ(result["message_number"], 1);
  EXPECT_EQ(result["folder_id"], 11);
  EXPECT_EQ(result["rule_id"], 5);
  EXPECT_EQ(result["colour_code"], 4);
  EXPECT_EQ(result["priority_code"], 2);
  EXPECT_EQ(result["saved_count"], 1);
  EXPECT_EQ(result["files"], json({"In\\M1!A3!U1!.eml", "In\\M1!A3!U1!.rcv"}));
  EXPECT_EQ(result["actions"],
            json({"[Scanning filters...]", "[Applying filterrule Questions...]",
                  "Replying: A question", "Color Coding: A question", "[Saving message...]",
                  ""}));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"M1!A3!U1!.eml", "M1!A3!U1!.rcv"}));

  const auto messages = sink.WaitForMessages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].mail_from, "jon@example.org");
  EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"sue@example.net"});
  EXPECT_NE(messages[0].data.find("\r\nSubject:  Got it\r\n"), std::string::npos);
  EXPECT_NE(messages[0].data.find("\r\n\r\nThank you.\r\n"), std::string::npos);

  // The index the main application reads has the record the JSON names.
  ToolRun listing = test::RunTool("store dump " + store_);
  ASSERT_EQ(listing.exit_code, 0);
  const json dump = json::parse(listing.output);
  ASSERT_EQ(dump["messages"].size(), 1u);
  EXPECT_EQ(dump["messages"][0]["FolderId"], 11);
  EXPECT_EQ(dump["messages"][0]["MessageIdText"], "<q1@example.net>");
}

TEST_F(ReceiveCommandTest, UnmatchedMessageGoesToTheIncomingFolder) {
  ToolRun run = Receive(store_ + " 1 3",
                        "From: sue@example.net\r\nSubject: hello\r\n\r\nhi\r\n");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const json result = json::parse(run.output);
  EXPECT_EQ(result["folder_id"], 10);
  EXPECT_EQ(result["rule_id"], -1);
  EXPECT_EQ(result["colour_code"], 1);
  EXPECT_EQ(result["priority_code"], 1);
  EXPECT_EQ(result["actions"], json({"[Scanning filters...]", "[Saving message...]", ""}));
}

TEST_F(ReceiveCommandTest, EmptyMessageIsNotStored) {
  ToolRun run = Receive(store_ + " 1 3", "Subject: \r\n\r\n \r\n");
  ASSERT_EQ(run.exit_code, 0) << run.output;
  const json result = json::parse(run.output);
  EXPECT_EQ(result["stored"], false);
  EXPECT_EQ(result["saved_count"], 0);
  EXPECT_EQ(result["files"], json::array());
  EXPECT_EQ(result["actions"], json::array());
  EXPECT_TRUE(StoredNames().empty());
}

TEST_F(ReceiveCommandTest, AccountOfAnotherUserIsRefused) {
  ToolRun run = Receive(store_ + " 1 4", kQuestion);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("account 4 belongs to user 2, not 1"), std::string::npos)
      << run.output;
  EXPECT_TRUE(StoredNames().empty());
  ToolRun missing = Receive(store_ + " 1 99", kQuestion);
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.output.find("no account 99"), std::string::npos) << missing.output;
}

TEST_F(ReceiveCommandTest, PrintRuleWithoutPrinterIsAnErrorThatLeavesTheFiles) {
  ToolRun run = Receive(store_ + " 1 3",
                        "From: sue@example.net\r\nSubject: monthly report\r\n\r\nx\r\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.output.find("printer"), std::string::npos) << run.output;
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"M1!A3!U1!.eml", "M1!A3!U1!.rcv"}));
  ToolRun listing = test::RunTool("store dump " + store_);
  EXPECT_EQ(json::parse(listing.output)["messages"].size(), 0u);
}

TEST_F(ReceiveCommandTest, WrongCommandLinesAreUsageErrors) {
  EXPECT_EQ(test::RunTool("receive " + store_ + " 1 3").exit_code, 2);
  EXPECT_EQ(test::RunTool("receive " + store_ + " one 3 m.eml").exit_code, 2);
  EXPECT_EQ(test::RunTool("receive " + store_ + " 1 3 m.eml --smtp").exit_code, 2);
  EXPECT_EQ(test::RunTool("receive " + store_ + " 1 3 m.eml --fast").exit_code, 2);
}

}  // namespace
}  // namespace quillon
