#include "store/rule_record.h"

#include "store/record_file.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

using test::Le32;
using test::Pascal;

constexpr std::size_t kRule = 2004;

std::string Rule(int rule_id, int user_id, std::uint8_t inactive = 0) {
  std::string record(kRule, '\0');
  Le32(record, 0, rule_id);
  Le32(record, 4, user_id);
  record[12] = static_cast<char>(inactive);
  return record;
}

// Every field at the offset of the table, and the unused bytes set too.
std::string FullRule() {
  std::string r = Rule(77, 3);
  Le32(r, 8, 12);
  Pascal(r, 13, "Invoices");
  for (int slot = 0; slot < 8; ++slot) {
    Pascal(r, 54 + slot * 41, "Field" + std::to_string(slot + 1));
    r[382 + slot] = static_cast<char>(slot % 2);
    Pascal(r, 390 + slot * 41, "Value" + std::to_string(slot + 1));
    r[718 + slot] = static_cast<char>(slot % 3 == 0);
  }
  r[726] = 1;
  Pascal(r, 727, "Re: thanks");
  Pascal(r, 828, "/reply.txt");
  for (int i = 0; i < 4; ++i) Pascal(r, 929 + i * 101, "/att" + std::to_string(i));
  r[1333] = 'u';
  r[1336] = 1;
  r[1337] = 2;
  Pascal(r, 1338, "Forward Name");
  Pascal(r, 1389, std::string(82, 'f'));
  Le32(r, 1472, 21);
  r[1476] = 1;
  r[1477] = 1;
  r[1478] = 'u';
  Le32(r, 1480, 22);
  r[1484] = 1;
  Pascal(r, 1485, "/saved");
  r[1586] = 1;
  r[1587] = 6;
  r[1588] = 'u';
  r[1589] = 1;
  r[1590] = 0;
  Pascal(r, 1591, std::string(255, 'p'));
  r[1900] = 'u';
  return r;
}

class RuleRecordTest : public test::StoreDirectoryTest {
 protected:
  void WriteRules(const std::string& data_records) {
    WriteBytes(kRulesFileName, std::string(kRule, '\0') + data_records);
  }
};

TEST_F(RuleRecordTest, ReadsEveryFieldAtItsOffset) {
  WriteRules(Rule(1, 9) + FullRule());
  LoadRule(2);
  const RuleRecord& rule = CurrentRule();
  EXPECT_EQ(rule.RuleId, 77);
  EXPECT_EQ(rule.UserId, 3);
  EXPECT_EQ(rule.TargetFolderId, 12);
  EXPECT_EQ(rule.RuleInactive, 0);
  EXPECT_EQ(rule.RuleName, "Invoices");
  for (std::size_t slot = 0; slot < 8; ++slot) {
    EXPECT_EQ(rule.ConditionField[slot], "Field" + std::to_string(slot + 1));
    EXPECT_EQ(rule.ConditionContains[slot], slot % 2);
    EXPECT_EQ(rule.ConditionValue[slot], "Value" + std::to_string(slot + 1));
    EXPECT_EQ(rule.ConditionJoin[slot], slot % 3 == 0 ? 1 : 0);
  }
  EXPECT_EQ(rule.ReplyEnabled, 1);
  EXPECT_EQ(rule.ReplySubject, "Re: thanks");
  EXPECT_EQ(rule.ReplyTextFile, "/reply.txt");
  EXPECT_EQ(rule.ReplyAttachment[3], "/att3");
  EXPECT_EQ(rule.ForwardEnabled, 1);
  EXPECT_EQ(rule.ForwardToGroup, 2);
  EXPECT_EQ(rule.ForwardName, "Forward Name");
  EXPECT_EQ(rule.ForwardAddress, std::string(82, 'f'));
  EXPECT_EQ(rule.ForwardGroupId, 21);
  EXPECT_EQ(rule.AddressActionEnabled, 1);
  EXPECT_EQ(rule.AddressMode, kAddSenderAndRecipients);
  EXPECT_EQ(rule.AddressGroupId, 22);
  EXPECT_EQ(rule.SaveAttachmentsEnabled, 1);
  EXPECT_EQ(rule.SaveAttachmentsDir, "/saved");
  EXPECT_EQ(rule.ColourEnabled, 1);
  EXPECT_EQ(rule.RuleColourCode, 6);
  EXPECT_EQ(rule.PrintEnabled, 1);
  EXPECT_EQ(rule.UseDefaultPrinter, 0);
  EXPECT_EQ(rule.PrinterName, std::string(255, 'p'));
}

TEST_F(RuleRecordTest, WritingBackGivesTheSameBytesUnusedOnesIncluded) {
  EXPECT_EQ(RuleRecord::FromBytes(FullRule()).ToBytes(), FullRule());
  RuleRecord fresh;
  fresh.RuleName = std::string(50, 'n');
  fresh.ConditionValue[7] = "last";
  std::string bytes = fresh.ToBytes();
  ASSERT_EQ(bytes.size(), kRule);
  EXPECT_EQ(test::PascalAt(bytes, 13), std::string(40, 'n'));
  EXPECT_EQ(test::PascalAt(bytes, 390 + 7 * 41), "last");
}

TEST_F(RuleRecordTest, ListHoldsActiveRulesOfTheUserInFileOrder) {
  WriteRules(Rule(1, 5) + Rule(2, 6) + Rule(3, 5, 1) + Rule(4, 5) +
             Rule(5, 5, 2) + Rule(6, 0) + Rule(7, 5));
  BuildRuleList(5);
  EXPECT_EQ(RuleList(), (std::vector<int>{1, 4, 7}));
  EXPECT_EQ(CurrentRule().RuleId, -1);
  BuildRuleList(0);  // the header record is never listed
  EXPECT_EQ(RuleList(), (std::vector<int>{6}));
}

TEST_F(RuleRecordTest, HeaderOnlyOrMissingFileGivesAnEmptyList) {
  BuildRuleList(0);
  EXPECT_TRUE(RuleList().empty());
  EXPECT_EQ(ReadBytes(kRulesFileName), std::string(kRule, '\0'));
}

TEST_F(RuleRecordTest, MoreThanAThousandRulesAreAllListed) {
  std::string records;
  for (int i = 1; i <= 1500; ++i) records += Rule(i, 8);
  WriteRules(records);
  BuildRuleList(8);
  ASSERT_EQ(RuleList().size(), 1500u);
  EXPECT_EQ(RuleList().back(), 1500);
}

TEST_F(RuleRecordTest, LoadingBeyondTheEndFailsAndLeavesRuleIdMinusOne) {
  WriteRules(Rule(1, 5));
  LoadRule(1);
  EXPECT_EQ(CurrentRule().RuleId, 1);
  try {
    LoadRule(2);
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), kReadBeyondEndOfFile);
  }
  EXPECT_EQ(CurrentRule().RuleId, -1);
}

}  // namespace
}  // namespace quillon
