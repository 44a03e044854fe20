#include "rules/filter_engine.h"

#include <fstream>

#include "store/rule_record.h"
#include "tests/store/store_test_support.h"

namespace quillon {
namespace {

constexpr int kDefaultFolder = 99;
constexpr int kRuleFolder = 50;

struct Condition {
  std::string field;
  bool contains = true;
  std::string value;
  bool and_join = false;  // join to the next condition
};

struct FilterRow {
  const char* name;
  std::vector<Condition> conditions;  // slots 1, 2, ... in order
  bool matches;
  std::string subject = "Re: xxABCyy";
};

void PrintTo(const FilterRow& row, std::ostream* out) { *out << row.name; }

RuleRecord MakeRule(int rule_id, int folder, const std::vector<Condition>& conditions) {
  RuleRecord rule;
  rule.RuleId = rule_id;
  rule.UserId = 1;
  rule.TargetFolderId = folder;
  rule.RuleName = "rule " + std::to_string(rule_id);
  for (std::size_t i = 0; i < conditions.size() && i < kConditionSlots; ++i) {
    rule.ConditionField[i] = conditions[i].field;
    rule.ConditionContains[i] = conditions[i].contains ? 1 : 0;
    rule.ConditionValue[i] = conditions[i].value;
    rule.ConditionJoin[i] = conditions[i].and_join ? 1 : 0;
  }
  return rule;
}

class FilterEngineTest : public test::StoreDirectoryTest {
 protected:
  void SetUp() override {
    test::StoreDirectoryTest::SetUp();
    headers_ = TmsHeaders{"From: Sue <s@y>", "X-Spam: yes", "X-Empty:   ",
                          "Subject: whatever"};
    to_.AddAddress("A", "Ann");
    cc_.AddAddress("B", "Bob");
    body_ = TStringList{"line one", "line two"};
  }
  void WriteRules(const std::vector<RuleRecord>& rules) {
    std::string bytes(RuleRecord::kSize, '\0');
    for (const RuleRecord& rule : rules) bytes += rule.ToBytes();
    WriteBytes(kRulesFileName, bytes);
    BuildRuleList(1);
  }
  int Find(const std::string& subject = "Re: xxABCyy") {
    return FindRuleFolder(headers_, subject, "<s@y>Sue", to_, cc_, bcc_, body_,
                          kDefaultFolder);
  }

  TmsHeaders headers_;
  TmsAddressList to_, cc_, bcc_;
  TStringList body_;
};

class FilterRowTest : public FilterEngineTest,
                      public ::testing::WithParamInterface<FilterRow> {};

TEST_P(FilterRowTest, MatchesAsExpected) {
  const FilterRow& row = GetParam();
  WriteRules({MakeRule(7, kRuleFolder, row.conditions)});
  int folder = Find(row.subject);
  EXPECT_EQ(folder, row.matches ? kRuleFolder : kDefaultFolder);
  EXPECT_EQ(MatchedRuleId(), row.matches ? 7 : -1);
}

const Condition kHolds{"SUBJECT", true, "abc"};
const Condition kFails{"SUBJECT", true, "zzz"};
Condition And(Condition c) { c.and_join = true; return c; }

INSTANTIATE_TEST_SUITE_P(
    Fields, FilterRowTest,
    ::testing::Values(
        FilterRow{"SubjectIgnoresCase", {{"SUBJECT", true, "abc"}}, true},
        FilterRow{"FieldNameInLowerCaseWithBlanks", {{"  subject \t", true, "abc"}}, true},
        FilterRow{"ValueIsTrimmed", {{"Subject", true, "  xxabc  "}}, true},
        FilterRow{"SubjectMustNotOccur", {{"SUBJECT", false, "abc"}}, false},
        FilterRow{"MustNotOccurOnEmptySubjectHolds", {{"SUBJECT", false, "abc"}}, true, ""},
        FilterRow{"ContainsOnEmptySubjectStillCounts",
                  {{"SUBJECT", true, "abc"}, {"X-Spam", true, "yes"}}, true, ""},
        FilterRow{"AccentedLettersIgnoreCase", {{"SUBJECT", true, "j\xF3n"}}, true,
                  "FR\xC1 J\xD3NI"},
        FilterRow{"SenderText", {{"Sender", true, "<S@Y>sue"}}, true},
        FilterRow{"ReceiverTextOfToAndCc", {{"RECEIVER", true, "ann<a>|BOB<b"}}, true},
        FilterRow{"ReceiverDoesNotStartWithName", {{"RECEIVER", true, "ann<a>ann"}}, false},
        FilterRow{"MessageTextAcrossLines", {{"[Message Text]", true, "ONE\r\nLINE TWO"}}, true},
        FilterRow{"MessageTextMustNotOccur", {{"[MESSAGE TEXT]", false, "three"}}, true},
        FilterRow{"HeaderByName", {{"x-spam", true, "YES"}}, true},
        FilterRow{"HeaderMustNotOccur", {{"X-Spam", false, "yes"}}, false},
        FilterRow{"MissingHeaderMustNotOccurIsNotInUse", {{"X-Absent", false, "yes"}}, false},
        FilterRow{"EmptyHeaderIsNotInUse", {{"X-Empty", false, "yes"}}, false},
        FilterRow{"EmptyValueIsNotInUse", {{"SUBJECT", false, "   "}}, false},
        FilterRow{"EmptyFieldIsNotInUse", {{"", false, "abc"}}, false},
        FilterRow{"OnlySlotTwoInUseNeverMatches", {{}, kHolds}, false},
        FilterRow{"UnusedHeaderSlotBlocksTheNextCondition",
                  {{"X-Absent", true, "x"}, kHolds}, false},
        FilterRow{"SlotsBeyondFourAreNotEvaluated", {{}, {}, {}, {}, kHolds}, false}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Joins, FilterRowTest,
    ::testing::Values(
        FilterRow{"TwoAndFirstHolds", {And(kHolds), kFails}, false},
        FilterRow{"TwoAndBothHold", {And(kHolds), kHolds}, true},
        FilterRow{"TwoOrFirstHolds", {kHolds, kFails}, true},
        FilterRow{"TwoOrNoneHolds", {kFails, kFails}, false},
        FilterRow{"ThreeAndOnlyFirstHolds", {And(kHolds), And(kFails), kFails}, false},
        FilterRow{"ThreeAndAllHold", {And(kHolds), And(kHolds), kHolds}, true},
        FilterRow{"ThreeOrLastHolds", {kFails, kFails, kHolds}, true},
        FilterRow{"FourOrNoneHolds", {kFails, kFails, kFails, kFails}, false},
        FilterRow{"FourAndOneFails", {And(kHolds), And(kHolds), And(kHolds), kFails}, false},
        // Mixed joins: "and" binds tighter than "or".
        FilterRow{"TrueOrFalseAndFalse", {kHolds, And(kFails), kFails}, true},
        FilterRow{"FalseAndTrueOrTrue", {And(kFails), kHolds, kHolds}, true},
        FilterRow{"TrueAndFalseOrFalse", {And(kHolds), kFails, kFails}, false},
        FilterRow{"FalseOrTrueAndTrueOrFalse", {kFails, And(kHolds), kHolds, kFails}, true},
        FilterRow{"FalseOrTrueAndFalseOrFalse", {kFails, And(kHolds), kFails, kFails}, false},
        FilterRow{"TrueAndTrueOrFalseAndFalse",
                  {And(kHolds), kHolds, And(kFails), kFails}, true},
        // The join after the last counted condition does not matter.
        FilterRow{"TrailingJoinIgnored", {And(kHolds)}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CombineConditionResults, AndBindsTighterThanOr) {
  // r1 or r2 and r3, with r1 true and r3 false: true when "and" binds
  // tighter, false when read left to right.
  EXPECT_TRUE(CombineConditionResults({true, true, false, false},
                                      {false, true, false, false}, 3));
  EXPECT_FALSE(CombineConditionResults({true, true, true, true}, {}, 0));
  EXPECT_TRUE(CombineConditionResults({true, false, false, false},
                                      {true, true, true, true}, 1));
}

TEST(ReceiverTextTest, ToThenCcThenBcc) {
  TmsAddressList to, cc, bcc;
  to.AddAddress("a@x", "Ann");
  to.AddAddress("c@x", "");
  bcc.AddAddress("d@x", "Di");
  cc.AddAddress("b@x", "Bob");
  EXPECT_EQ(ReceiverText(to, cc, bcc), "|Ann<a@x>|<c@x>|Bob<b@x>|Di<d@x>");
  EXPECT_EQ(ReceiverText({}, {}, {}), "");
}

TEST_F(FilterEngineTest, EmptyRuleListGivesTheDefaultFolder) {
  WriteRules({});
  EXPECT_EQ(Find(), kDefaultFolder);
  EXPECT_EQ(MatchedRuleId(), -1);
}

TEST_F(FilterEngineTest, FirstMatchingRuleWinsAndStaysTheCurrentRule) {
  WriteRules({MakeRule(1, 10, {kFails}), MakeRule(2, 20, {kHolds}),
              MakeRule(3, 30, {kHolds})});
  EXPECT_EQ(Find(), 20);
  EXPECT_EQ(MatchedRuleId(), 2);
  EXPECT_EQ(CurrentRule().RuleId, 2);
  EXPECT_EQ(CurrentRule().RuleName, "rule 2");
}

TEST_F(FilterEngineTest, AFollowingCallWithoutMatchResetsTheMatchedRule) {
  WriteRules({MakeRule(2, 20, {kHolds})});
  EXPECT_EQ(Find(), 20);
  EXPECT_EQ(Find("nothing here"), kDefaultFolder);
  EXPECT_EQ(MatchedRuleId(), -1);
}

TEST_F(FilterEngineTest, RulesOfOtherUsersAndInactiveRulesAreNotTried) {
  RuleRecord other_user = MakeRule(1, 10, {kHolds});
  other_user.UserId = 2;
  RuleRecord inactive = MakeRule(2, 20, {kHolds});
  inactive.RuleInactive = 1;
  WriteRules({other_user, inactive, MakeRule(3, 30, {kHolds})});
  EXPECT_EQ(Find(), 30);
  EXPECT_EQ(MatchedRuleId(), 3);
}

TEST_F(FilterEngineTest, RulesAreReadAgainForEveryMessage) {
  WriteRules({MakeRule(1, 10, {kFails})});
  EXPECT_EQ(Find(), kDefaultFolder);
  // The main application changes the rule in place during the run.
  std::string bytes(RuleRecord::kSize, '\0');
  WriteBytes(kRulesFileName, bytes + MakeRule(1, 10, {kHolds}).ToBytes());
  EXPECT_EQ(Find(), 10);
}

TEST_F(FilterEngineTest, ObserverSeesEveryTriedRuleWithItsConditions) {
  WriteRules({MakeRule(1, 10, {kFails, {"X-Absent", true, "q"}}),
              MakeRule(2, 20, {kHolds})});
  std::vector<std::pair<int, RuleEvaluation>> seen;
  FilterMessage message{headers_, "xxABCyy", "", "", body_};
  int folder = FindRuleFolder(message, kDefaultFolder,
                              [&](int record, const RuleRecord&, const RuleEvaluation& e) {
                                seen.emplace_back(record, e);
                              });
  EXPECT_EQ(folder, 20);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, 1);
  EXPECT_EQ(seen[0].second.counted, 1);
  EXPECT_TRUE(seen[0].second.conditions[0].in_use);
  EXPECT_FALSE(seen[0].second.conditions[0].found);
  EXPECT_FALSE(seen[0].second.conditions[1].in_use);
  EXPECT_TRUE(seen[1].second.matched);
}

}  // namespace
}  // namespace quillon
