#include "rules/filter_engine.h"

#include "platform/code_pages.h"
#include "platform/text.h"

namespace quillon {

namespace {

int matched_rule_id = -1;

void AppendEntries(const TmsAddressList& list, std::string& text) {
  for (int i = 0; i < list.Count(); ++i) {
    const TmsMailAddress& entry = list.Items(i);
    text += "|" + entry.Name() + "<" + entry.Address() + ">";
  }
}

// The text a condition on `upper_field` searches; false when the condition
// is not in use (a header the message lacks or has empty).
bool SearchedText(const std::string& field, const std::string& upper_field,
                  const FilterMessage& message, std::string& searched) {
  if (upper_field == "[MESSAGE TEXT]") {
    searched = message.body.Text();
  } else if (upper_field == "SENDER") {
    searched = message.sender_text;
  } else if (upper_field == "RECEIVER") {
    searched = message.receiver_text;
  } else if (upper_field == "SUBJECT") {
    searched = message.subject;
  } else {
    searched = message.headers.GetFieldValue(field);
    return !Trim(searched).empty();
  }
  return true;
}

ConditionResult EvaluateCondition(const RuleRecord& rule, int slot,
                                  const FilterMessage& message) {
  const std::size_t index = static_cast<std::size_t>(slot - 1);
  ConditionResult condition;
  condition.slot = slot;
  condition.field = Trim(rule.ConditionField[index]);
  condition.value = Trim(rule.ConditionValue[index]);
  condition.contains = rule.ConditionContains[index] != 0;
  const std::string upper_field = AnsiUpperCase(condition.field);
  const std::string upper_value = AnsiUpperCase(condition.value);
  if (upper_field.empty() || upper_value.empty()) return condition;
  std::string searched;
  if (!SearchedText(condition.field, upper_field, message, searched)) {
    return condition;
  }
  condition.in_use = true;
  condition.found =
      AnsiUpperCase(std::move(searched)).find(upper_value) != std::string::npos;
  condition.result = condition.contains ? condition.found : !condition.found;
  return condition;
}

}  // namespace

std::string ReceiverText(const TmsAddressList& to, const TmsAddressList& cc,
                         const TmsAddressList& bcc) {
  std::string text;
  AppendEntries(to, text);
  AppendEntries(cc, text);
  AppendEntries(bcc, text);
  return text;
}

bool CombineConditionResults(const std::array<bool, kEvaluatedConditions>& results,
                             const std::array<bool, kEvaluatedConditions>& joins,
                             int counted) {
  if (counted <= 0) return false;
  // Sum of products: each run of "and"-joined results is one group, the
  // groups are joined by "or".
  bool any_group = false;
  bool group = results[0];
  for (int i = 1; i < counted && i < kEvaluatedConditions; ++i) {
    if (joins[static_cast<std::size_t>(i - 1)]) {
      group = group && results[static_cast<std::size_t>(i)];
    } else {
      any_group = any_group || group;
      group = results[static_cast<std::size_t>(i)];
    }
  }
  return any_group || group;
}

RuleEvaluation EvaluateRule(const RuleRecord& rule,
                            const FilterMessage& message) {
  RuleEvaluation evaluation;
  std::array<bool, kEvaluatedConditions> results{};
  std::array<bool, kEvaluatedConditions> joins{};
  for (int slot = 1; slot <= kEvaluatedConditions; ++slot) {
    const std::size_t index = static_cast<std::size_t>(slot - 1);
    evaluation.conditions[index] = EvaluateCondition(rule, slot, message);
    if (evaluation.conditions[index].in_use) ++evaluation.counted;
    results[index] = evaluation.conditions[index].result;
    joins[index] = rule.ConditionJoin[index] != 0;
  }
  // The results of slots 1 to n are combined, whichever slots were in use.
  evaluation.matched = CombineConditionResults(results, joins, evaluation.counted);
  return evaluation;
}

int MatchedRuleId() { return matched_rule_id; }

int FindRuleFolder(const FilterMessage& message, int default_folder_id,
                   const RuleObserver& observer) {
  matched_rule_id = -1;
  for (int record_number : RuleList()) {
    LoadRule(record_number);
    const RuleRecord& rule = CurrentRule();
    RuleEvaluation evaluation = EvaluateRule(rule, message);
    if (observer) observer(record_number, rule, evaluation);
    if (evaluation.matched) {
      matched_rule_id = rule.RuleId;
      return rule.TargetFolderId;
    }
  }
  return default_folder_id;
}

int FindRuleFolder(const TmsHeaders& headers, const std::string& subject,
                   const std::string& sender_text, const TmsAddressList& to,
                   const TmsAddressList& cc, const TmsAddressList& bcc,
                   const TStringList& body, int default_folder_id) {
  FilterMessage message{headers, subject, sender_text,
                        ReceiverText(to, cc, bcc), body};
  return FindRuleFolder(message, default_folder_id, nullptr);
}

}  // namespace quillon
