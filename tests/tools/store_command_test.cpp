// quillon-tool store, run as a program on stores in temporary directories.
#include <stdio.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include "platform/data_dir.h"
#include "store/address_record.h"
#include "store/folder_record.h"
#include "store/message_store.h"
#include "store/rule_record.h"
#include "tests/store/store_test_support.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

using json = nlohmann::ordered_json;

using test::ToolRun;

ToolRun RunTool(const std::string& arguments) {
  return test::RunTool("store " + arguments);
}

const char kDescription[] = R"({
  "users": [{"Id": 1, "UserName": "J\u00f3n", "Organization": "ACME"}],
  "accounts": [{"Id": 3, "UserId": 1, "EMailAddress": "jon@example.org", "SmtpTimeOut": 30}],
  "folders": [
    {"FolderId": 10, "UserId": 1, "AccountId": 3, "FolderName": "Inbox", "FolderKind": 2},
    {"FolderId": 11, "UserId": 1, "AccountId": 3, "FolderName": "Invoices"}
  ],
  "rules": [
    {"RuleId": 4, "UserId": 1, "TargetFolderId": 12, "RuleName": "Off", "RuleInactive": 1,
     "ConditionField": ["SUBJECT"], "ConditionContains": [1], "ConditionValue": ["invoice"]},
    {"RuleId": 5, "UserId": 1, "TargetFolderId": 11, "RuleName": "Invoices",
     "ConditionField": ["Subject", "Sender", "X-Absent"], "ConditionContains": [true, true, false],
     "ConditionValue": ["invoice", "billing", "x"], "ConditionJoin": [true, true],
     "ColourEnabled": true, "RuleColourCode": 3}
  ],
  "addresses": [{"AddressId": 1, "GroupId": 5, "EntryName": "Ann", "EntryAddress": "ann@example.org"},
                {"AddressId": 2, "GroupId": 6, "EntryName": "Bob", "EntryAddress": "bob@example.org"}]
})";

class StoreCommandTest : public test::StoreDirectoryTest {
 protected:
  void SetUp() override {
    test::StoreDirectoryTest::SetUp();
    WriteBytes("desc.json", kDescription);
    store_ = PathOf("store");
    ToolRun run = RunTool(PathOf("desc.json") + " " + store_);  // no subcommand
    ASSERT_EQ(run.exit_code, 2);
    ASSERT_EQ(RunTool("build " + PathOf("desc.json") + " " + store_).exit_code, 0);
  }
  std::string store_;
};

TEST_F(StoreCommandTest, BuiltStoreIsReadByTheStoreFunctions) {
  SetDataDirectory(store_);
  EXPECT_TRUE(std::filesystem::is_directory(store_ + "/In"));
  EXPECT_EQ(FindFolder(1, 3, kIncomingMailFolderKind, ""), 10);
  EXPECT_EQ(FindFolder(1, 3, 0, "Invoices"), 11);
  BuildRuleList(1);
  ASSERT_EQ(RuleList(), std::vector<int>{2});
  LoadRule(2);
  EXPECT_EQ(CurrentRule().ConditionField[2], "X-Absent");
  EXPECT_EQ(CurrentRule().ConditionJoin[0], 1);
  EXPECT_EQ(CurrentRule().RuleColourCode, 3);
  EXPECT_TRUE(AddressInGroup(5, "ANN@example.org"));
  EXPECT_EQ(NewAddressId(), 3);
  EXPECT_EQ(test::Le32At(ReadBytes("store/qvAddressesData.adr"), 0), 2);
  EXPECT_EQ(ReadBytes("store/qvUsersData.usr").substr(1188 + 4, 4), std::string("\x03J\xF3n", 4));
}

TEST_F(StoreCommandTest, DumpFedBackToBuildGivesTheSameFiles) {
  ToolRun dump = RunTool("dump " + store_);
  ASSERT_EQ(dump.exit_code, 0);
  json parsed = json::parse(dump.output);
  EXPECT_EQ(parsed["users"][0]["UserName"], "J\u00f3n");
  EXPECT_EQ(parsed["rules"][1]["ConditionValue"][1], "billing");
  EXPECT_EQ(parsed["addresses_header"]["RecordCount"], 2);
  EXPECT_FALSE(parsed.contains("messages"));
  WriteBytes("dump.json", dump.output);
  ASSERT_EQ(RunTool("build " + PathOf("dump.json") + " " + PathOf("copy")).exit_code, 0);
  for (const char* name : {"qvUsersData.usr", "qvAccountsData.act", "qvFoldersData.fld",
                           "qvRulesData.rul", "qvAddressesData.adr"}) {
    EXPECT_EQ(ReadBytes(std::string("copy/") + name), ReadBytes(std::string("store/") + name))
        << name;
  }
}

TEST_F(StoreCommandTest, MessagesShowsTheIndexAndDumpHasEveryRecord) {
  SetDataDirectory(store_);
  for (const char* subject : {"First subject", "Second subject"}) {
    StoredMessageValues values;
    values.MessageNumber = NewMessageNumber();
    values.UserId = 1;
    values.AccountId = 3;
    values.FolderId = 10;
    values.Subject = subject;
    values.SenderText = "Sue <s@y>";
    values.MessageDate = 45000.75;  // 15 March 2023, 18:00
    values.RecipientsFileName = RecipientsFileName(values.MessageNumber, 3, 1);
    WriteRecipientsFile(StoredFilePath(values.RecipientsFileName), {{{"a@x", "Ann"}}, {}, {}, {}, {"s@y", "Sue"}});
    StoreMessage(values);
  }
  ToolRun table = RunTool("messages " + store_);
  ASSERT_EQ(table.exit_code, 0);
  EXPECT_NE(table.output.find("records: 2  highest number: 2"), std::string::npos);
  EXPECT_NE(table.output.find("Second subject"), std::string::npos);
  EXPECT_NE(table.output.find("2023-03-15 18:00:00"), std::string::npos);
  json dump = json::parse(RunTool("dump " + store_).output);
  ASSERT_EQ(dump["messages"].size(), 2u);
  EXPECT_EQ(dump["messages"][1]["Subject"], "Second subject");
  EXPECT_EQ(dump["messages"][0]["ToList"], "Ann <a@x>");
  EXPECT_EQ(dump["messages_header"]["HighestNumber"], 2);
  EXPECT_EQ(dump["folder_index"][1]["MessageNumber"], 2);
}

TEST_F(StoreCommandTest, MatchNamesTheRuleAndEveryCondition) {
  WriteBytes("m1.eml",
             "From: Billing <billing@shop.example>\r\nTo: Jon <jon@example.org>\r\n"
             "Subject: Your INVOICE\r\n\r\nPlease pay.\r\n");
  ToolRun run = RunTool("match " + store_ + " 1 3 " + PathOf("m1.eml"));
  ASSERT_EQ(run.exit_code, 0);
  json result = json::parse(run.output);
  EXPECT_EQ(result["rule_id"], 5);
  EXPECT_EQ(result["rule_name"], "Invoices");
  EXPECT_EQ(result["folder_id"], 11);
  EXPECT_EQ(result["sender_text"], "<billing@shop.example>Billing");
  ASSERT_EQ(result["rules"].size(), 1u);  // the inactive rule is not listed
  const json& conditions = result["rules"][0]["conditions"];
  EXPECT_EQ(result["rules"][0]["counted"], 2);
  EXPECT_EQ(conditions[0]["result"], true);
  EXPECT_EQ(conditions[1]["found"], true);
  EXPECT_EQ(conditions[2]["in_use"], false);  // a header the message lacks
}

TEST_F(StoreCommandTest, MatchWithoutMatchingRuleGivesTheIncomingFolder) {
  WriteBytes("m2.eml", "From: a@b\r\nSubject: hello\r\n\r\nHi\r\n");
  json result = json::parse(RunTool("match " + store_ + " 1 3 " + PathOf("m2.eml")).output);
  EXPECT_EQ(result["rule_id"], -1);
  EXPECT_EQ(result["rule_name"], "");
  EXPECT_EQ(result["folder_id"], 10);
  // Another account of the user has no incoming folder: -1.
  result = json::parse(RunTool("match " + store_ + " 1 4 " + PathOf("m2.eml")).output);
  EXPECT_EQ(result["folder_id"], -1);
}

TEST_F(StoreCommandTest, WrongArgumentsAreUsageErrors) {
  EXPECT_EQ(RunTool("match " + store_ + " one 3 x.eml").exit_code, 2);
  EXPECT_EQ(RunTool("dump").exit_code, 2);
  EXPECT_EQ(RunTool("frobnicate " + store_).exit_code, 2);
  EXPECT_EQ(RunTool("build " + PathOf("absent.json") + " " + store_).exit_code, 1);
}

}  // namespace
}  // namespace quillon
