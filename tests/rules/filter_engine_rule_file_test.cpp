// The filter engine keeps the rules file as read while the file stays the
// same, and reads it again once it may have changed.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "rules/filter_engine.h"
#include "store/record_file.h"
#include "store/rule_record.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

constexpr int kDefaultFolder = 99;

RuleRecord SubjectRule(int rule_id, int folder, const std::string& value) {
  RuleRecord rule;
  rule.RuleId = rule_id;
  rule.UserId = 1;
  rule.TargetFolderId = folder;
  rule.RuleName = "rule " + std::to_string(rule_id);
  rule.ConditionField[0] = "Subject";
  rule.ConditionContains[0] = 1;
  rule.ConditionValue[0] = value;
  return rule;
}

RuleRecord BodyRule(int rule_id, int folder, bool contains, const std::string& value) {
  RuleRecord rule = SubjectRule(rule_id, folder, "");
  rule.ConditionField[0] = "[Message Text]";
  rule.ConditionContains[0] = contains ? 1 : 0;
  rule.ConditionValue[0] = value;
  return rule;
}

std::string RulesFileBytes(const std::vector<RuleRecord>& rules) {
  std::string bytes(RuleRecord::kSize, '\0');
  for (const RuleRecord& rule : rules) bytes += rule.ToBytes();
  return bytes;
}

class RuleFileTest : public test::StoreDirectoryTest {
 protected:
  void SetUp() override {
    test::StoreDirectoryTest::SetUp();
    headers_ = TmsHeaders{"From: Sue <s@y>", "Subject: quarterly report"};
    body_ = TStringList{"Hello,", "the figures are attached."};
  }
  void WriteRules(const std::vector<RuleRecord>& rules) {
    WriteBytes(kRulesFileName, RulesFileBytes(rules));
  }
  // Rewrites the file in place: same inode, same size when the rules are
  // as many as before.
  void RewriteRulesInPlace(const std::vector<RuleRecord>& rules) {
    const std::string bytes = RulesFileBytes(rules);
    FILE* file = std::fopen(PathOf(kRulesFileName).c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
  }
  // As a program that writes a new file and renames it over the old one.
  void ReplaceRules(const std::vector<RuleRecord>& rules) {
    WriteBytes("rules.new", RulesFileBytes(rules));
    ASSERT_EQ(std::rename(PathOf("rules.new").c_str(), PathOf(kRulesFileName).c_str()), 0);
  }
  // A file last modified an hour ago: its stamp tells any later write.
  void AgeRulesFile() {
    struct timespec times[2] = {{0, UTIME_NOW}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, PathOf(kRulesFileName).c_str(), times, 0), 0);
  }
  int Find(const std::string& subject) {
    return FindRuleFolder(headers_, subject, "<s@y>Sue", to_, cc_, bcc_, body_, kDefaultFolder);
  }

  TmsHeaders headers_;
  TmsAddressList to_, cc_, bcc_;
  TStringList body_;
};

TEST_F(RuleFileTest, SnapshotHoldsEveryRecordInFileOrder) {
  WriteRules({SubjectRule(5, 10, "a"), SubjectRule(6, 20, "b")});
  const RuleFileSnapshot snapshot = ReadRuleFile();
  ASSERT_EQ(snapshot.records.size(), 2u);
  ASSERT_NE(snapshot.Record(2), nullptr);
  EXPECT_EQ(snapshot.Record(1)->RuleId, 5);
  EXPECT_EQ(snapshot.Record(2)->TargetFolderId, 20);
  EXPECT_EQ(snapshot.Record(0), nullptr);
  EXPECT_EQ(snapshot.Record(3), nullptr);
}

TEST_F(RuleFileTest, MissingFileIsCreatedEmpty) {
  const RuleFileSnapshot snapshot = ReadRuleFile();
  EXPECT_TRUE(snapshot.records.empty());
  EXPECT_EQ(ReadBytes(kRulesFileName), std::string(RuleRecord::kSize, '\0'));
}

TEST_F(RuleFileTest, AFileJustWrittenIsNeverTakenAsUnchanged) {
  // A second write in the same clock tick would leave its times as they
  // are, so such a snapshot is read again at the next look.
  WriteRules({SubjectRule(1, 10, "a")});
  const RuleFileSnapshot snapshot = ReadRuleFile();
  EXPECT_FALSE(snapshot.stamp_tells_changes);
  EXPECT_FALSE(RuleFileUnchanged(snapshot));
}

TEST_F(RuleFileTest, EveryKindOfChangeToAnOlderFileIsSeen) {
  WriteRules({SubjectRule(1, 10, "a")});
  AgeRulesFile();
  const RuleFileSnapshot aged = ReadRuleFile();
  ASSERT_TRUE(aged.stamp_tells_changes);
  EXPECT_TRUE(RuleFileUnchanged(aged));

  RewriteRulesInPlace({SubjectRule(1, 10, "b")});
  EXPECT_FALSE(RuleFileUnchanged(aged)) << "rewritten in place, same size";

  AgeRulesFile();
  const RuleFileSnapshot before_append = ReadRuleFile();
  ASSERT_TRUE(RuleFileUnchanged(before_append));
  RewriteRulesInPlace({SubjectRule(1, 10, "b"), SubjectRule(2, 20, "c")});
  AgeRulesFile();  // even with its old time back, the size tells
  EXPECT_FALSE(RuleFileUnchanged(before_append)) << "a rule appended";

  const RuleFileSnapshot before_replace = ReadRuleFile();
  ASSERT_TRUE(RuleFileUnchanged(before_replace));
  ReplaceRules({SubjectRule(1, 10, "x"), SubjectRule(2, 20, "y")});
  AgeRulesFile();
  EXPECT_FALSE(RuleFileUnchanged(before_replace)) << "replaced by another file";

  const RuleFileSnapshot before_removal = ReadRuleFile();
  ASSERT_TRUE(RuleFileUnchanged(before_removal));
  std::filesystem::remove(PathOf(kRulesFileName));
  EXPECT_FALSE(RuleFileUnchanged(before_removal)) << "removed";
}

TEST_F(RuleFileTest, SnapshotOfAnotherDataDirectoryIsNotCurrent) {
  WriteRules({SubjectRule(1, 10, "a")});
  AgeRulesFile();
  const RuleFileSnapshot snapshot = ReadRuleFile();
  ASSERT_TRUE(RuleFileUnchanged(snapshot));
  const std::string first_directory = directory_.string();
  SetDataDirectory(first_directory + "/In");
  EXPECT_FALSE(RuleFileUnchanged(snapshot));
  SetDataDirectory(first_directory);
}

TEST_F(RuleFileTest, RuleChangedInPlaceBetweenTwoMessagesIsSeen) {
  WriteRules({SubjectRule(1, 10, "invoice")});
  AgeRulesFile();
  BuildRuleList(1);
  EXPECT_EQ(Find("quarterly report"), kDefaultFolder);
  EXPECT_EQ(Find("quarterly report"), kDefaultFolder);  // the file as kept
  // The main application edits the rule between two messages of the run.
  RewriteRulesInPlace({SubjectRule(1, 10, "quarterly")});
  EXPECT_EQ(Find("quarterly report"), 10);
  EXPECT_EQ(MatchedRuleId(), 1);
  EXPECT_EQ(CurrentRule().ConditionValue[0], "quarterly");
}

TEST_F(RuleFileTest, RulesFileReplacedBetweenTwoMessagesIsSeen) {
  WriteRules({SubjectRule(1, 10, "invoice"), SubjectRule(2, 20, "memo")});
  AgeRulesFile();
  BuildRuleList(1);
  EXPECT_EQ(Find("quarterly report"), kDefaultFolder);
  ReplaceRules({SubjectRule(1, 10, "invoice"), SubjectRule(2, 20, "report")});
  AgeRulesFile();
  EXPECT_EQ(Find("quarterly report"), 20);
  EXPECT_EQ(MatchedRuleId(), 2);
}

TEST_F(RuleFileTest, ListedRuleMissingFromTheFileFailsAsReadingItAlwaysDid) {
  WriteRules({SubjectRule(1, 10, "invoice"), SubjectRule(2, 20, "report")});
  BuildRuleList(1);
  ASSERT_EQ(RuleList().size(), 2u);
  WriteRules({SubjectRule(1, 10, "invoice")});  // cut short during the run
  try {
    Find("quarterly report");
    FAIL() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.ErrorCode(), kReadBeyondEndOfFile);
  }
  EXPECT_EQ(CurrentRule().RuleId, -1);
  EXPECT_EQ(MatchedRuleId(), -1);
}

TEST_F(RuleFileTest, WithoutMatchTheLastRuleTriedIsTheCurrentRule) {
  WriteRules({SubjectRule(1, 10, "invoice"), SubjectRule(2, 20, "memo")});
  BuildRuleList(1);
  EXPECT_EQ(Find("quarterly report"), kDefaultFolder);
  EXPECT_EQ(CurrentRule().RuleId, 2);
  EXPECT_EQ(MatchedRuleId(), -1);
}

TEST_F(RuleFileTest, ManyRulesOnTheBodyEachSeeTheWholeText) {
  // Rules 1 to 3 look at the body and fail, rule 4 holds; the body text is
  // the same for every one of them.
  WriteRules({BodyRule(1, 10, true, "invoice"), BodyRule(2, 20, false, "FIGURES"),
              BodyRule(3, 30, true, "hello,\r\nthe x"), BodyRule(4, 40, true, "ello,\r\nTHE fig")});
  BuildRuleList(1);
  std::vector<bool> found;
  FilterMessage message{headers_, "quarterly report", "", "", body_};
  const int folder = FindRuleFolder(message, kDefaultFolder,
                                    [&](int, const RuleRecord&, const RuleEvaluation& e) {
                                      found.push_back(e.conditions[0].found);
                                    });
  EXPECT_EQ(folder, 40);
  EXPECT_EQ(found, (std::vector<bool>{false, true, false, true}));
}

}  // namespace
}  // namespace quillon
