#include "rules/filter_engine.h"

#include <map>
#include <optional>

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

// The upper-cased texts that conditions search, each made at most once per
// message however many rules look at it (the body is the large one).
class UpperCaseTexts {
 public:
  explicit UpperCaseTexts(const FilterMessage& message) : message_(message) {}

  // The upper-cased text a condition on `field` searches; nullptr when the
  // condition is not in use (a header the message lacks or has empty).
  const std::string* Searched(const std::string& field, const std::string& upper_field) {
    if (upper_field == "[MESSAGE TEXT]") return Upper(body_, [&] { return message_.body.Text(); });
    if (upper_field == "SENDER") return Upper(sender_, [&] { return message_.sender_text; });
    if (upper_field == "RECEIVER") return Upper(receiver_, [&] { return message_.receiver_text; });
    if (upper_field == "SUBJECT") return Upper(subject_, [&] { return message_.subject; });
    return Header(field);
  }

 private:
  template <typename Text>
  static const std::string* Upper(std::optional<std::string>& kept, Text text) {
    if (!kept) kept = AnsiUpperCase(text());
    return &*kept;
  }

  const std::string* Header(const std::string& field) {
    auto found = headers_.find(field);
    if (found == headers_.end()) {
      std::optional<std::string> upper;
      std::string value = message_.headers.GetFieldValue(field);
      if (!Trim(value).empty()) upper = AnsiUpperCase(std::move(value));
      found = headers_.emplace(field, std::move(upper)).first;
    }
    return found->second ? &*found->second : nullptr;
  }

  const FilterMessage& message_;
  std::optional<std::string> body_;
  std::optional<std::string> sender_;
  std::optional<std::string> receiver_;
  std::optional<std::string> subject_;
  // By the field name as the rule writes it; nullopt: not in use.
  std::map<std::string, std::optional<std::string>> headers_;
};

ConditionResult EvaluateCondition(const RuleRecord& rule, int slot, UpperCaseTexts& texts) {
  const std::size_t index = static_cast<std::size_t>(slot - 1);
  ConditionResult condition;
  condition.slot = slot;
  condition.field = Trim(rule.ConditionField[index]);
  condition.value = Trim(rule.ConditionValue[index]);
  condition.contains = rule.ConditionContains[index] != 0;
  const std::string upper_field = AnsiUpperCase(condition.field);
  const std::string upper_value = AnsiUpperCase(condition.value);
  if (upper_field.empty() || upper_value.empty()) return condition;
  const std::string* searched = texts.Searched(condition.field, upper_field);
  if (searched == nullptr) return condition;
  condition.in_use = true;
  condition.found = searched->find(upper_value) != std::string::npos;
  condition.result = condition.contains ? condition.found : !condition.found;
  return condition;
}

RuleEvaluation EvaluateRuleTexts(const RuleRecord& rule, UpperCaseTexts& texts) {
  RuleEvaluation evaluation;
  std::array<bool, kEvaluatedConditions> results{};
  std::array<bool, kEvaluatedConditions> joins{};
  for (int slot = 1; slot <= kEvaluatedConditions; ++slot) {
    const std::size_t index = static_cast<std::size_t>(slot - 1);
    evaluation.conditions[index] = EvaluateCondition(rule, slot, texts);
    if (evaluation.conditions[index].in_use) ++evaluation.counted;
    results[index] = evaluation.conditions[index].result;
    joins[index] = rule.ConditionJoin[index] != 0;
  }
  // The results of slots 1 to n are combined, whichever slots were in use.
  evaluation.matched = CombineConditionResults(results, joins, evaluation.counted);
  return evaluation;
}

// The rules file as last read. It is read again whenever it may have
// changed, so edits the main application makes during a run are seen from
// the next message on, as when every rule was read from the file each time.
const RuleFileSnapshot& CurrentRuleFile() {
  static std::optional<RuleFileSnapshot> kept;
  if (!kept || !RuleFileUnchanged(*kept)) {
    kept.reset();
    kept = ReadRuleFile();
  }
  return *kept;
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
  UpperCaseTexts texts(message);
  return EvaluateRuleTexts(rule, texts);
}

int MatchedRuleId() { return matched_rule_id; }

int FindRuleFolder(const FilterMessage& message, int default_folder_id,
                   const RuleObserver& observer) {
  matched_rule_id = -1;
  if (RuleList().empty()) return default_folder_id;
  const RuleFileSnapshot& rules = CurrentRuleFile();
  UpperCaseTexts texts(message);
  const RuleRecord* tried = nullptr;
  bool matched = false;
  for (int record_number : RuleList()) {
    tried = rules.Record(record_number);
    if (tried == nullptr) {
      // Not in the file as read: LoadRule reads it afresh, or fails for a
      // record beyond the end as the file read always did.
      LoadRule(record_number);
      tried = &CurrentRule();
    }
    RuleEvaluation evaluation = EvaluateRuleTexts(*tried, texts);
    if (observer) observer(record_number, *tried, evaluation);
    if (evaluation.matched) {
      matched = true;
      break;
    }
  }
  // The last rule tried stays the current rule, the matching one included.
  if (tried != &CurrentRule()) CurrentRule() = *tried;
  if (!matched) return default_folder_id;
  matched_rule_id = CurrentRule().RuleId;
  return CurrentRule().TargetFolderId;
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
