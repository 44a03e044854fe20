// Picks the first of the user's rules whose conditions hold for a received
// message, and the folder that rule files the message into.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "mail/headers.h"
#include "mail/mail_address.h"
#include "platform/string_list.h"
#include "store/rule_record.h"

namespace quillon {

// Conditions 1 to 4 of a rule are evaluated.
inline constexpr int kEvaluatedConditions = 4;

// The parts of a message that rule conditions look at.
struct FilterMessage {
  const TmsHeaders& headers;
  std::string subject;
  std::string sender_text;    // "<" + address + ">" + name
  std::string receiver_text;  // ReceiverText of To, CC and BCC
  const TStringList& body;
};

// "|" + name + "<" + address + ">" for every To, then CC, then BCC entry.
std::string ReceiverText(const TmsAddressList& to, const TmsAddressList& cc,
                         const TmsAddressList& bcc);

struct ConditionResult {
  int slot = 0;          // 1 to 4
  std::string field;     // trimmed
  std::string value;     // trimmed
  bool in_use = false;   // counted among the rule's conditions
  bool contains = false; // the value must occur (else must not)
  bool found = false;    // the value occurs in the searched text
  bool result = false;   // r[slot]
};

struct RuleEvaluation {
  std::array<ConditionResult, kEvaluatedConditions> conditions;
  int counted = 0;  // n
  bool matched = false;
};

RuleEvaluation EvaluateRule(const RuleRecord& rule,
                            const FilterMessage& message);

// Combines r[1..n] with the joins j[1..n-1] (true = and, false = or);
// "and" binds tighter than "or": r1 or r2 and r3 = r1 or (r2 and r3).
// n = 0 gives false.
bool CombineConditionResults(const std::array<bool, kEvaluatedConditions>& results,
                             const std::array<bool, kEvaluatedConditions>& joins,
                             int counted);

// Called for every rule tried, in order, with its record number.
using RuleObserver = std::function<void(int record_number, const RuleRecord& rule,
                                        const RuleEvaluation& evaluation)>;

// The RuleId of the rule that matched the last message, or -1.
int MatchedRuleId();

// Tries the rules of the rule list in order and returns the TargetFolderId
// of the first that matches, leaving it the current rule (without a match,
// the last rule tried); `default_folder_id` when none matches. The rules
// file is read again for a message whenever it may have changed since the
// last read, so the rules are as current as when each was read per message.
int FindRuleFolder(const TmsHeaders& headers, const std::string& subject,
                   const std::string& sender_text, const TmsAddressList& to,
                   const TmsAddressList& cc, const TmsAddressList& bcc,
                   const TStringList& body, int default_folder_id);

// The same over a prepared message, telling `observer` about every rule.
int FindRuleFolder(const FilterMessage& message, int default_folder_id,
                   const RuleObserver& observer);

}  // namespace quillon
