// Storing received messages into the index and choosing their rule.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "mail/headers.h"
#include "mail/mail_address.h"
#include "platform/data_dir.h"
#include "platform/string_list.h"
#include "rules/filter_engine.h"
#include "store/message_store.h"
#include "store/record_bytes.h"
#include "store/rule_record.h"

namespace quillon {
namespace {

// A fresh data directory for one benchmark run, removed afterwards.
class BenchStore {
 public:
  BenchStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    directory_ = pattern;
    std::filesystem::create_directory(directory_ / "In");
    SetDataDirectory(directory_.string());
  }
  ~BenchStore() { std::filesystem::remove_all(directory_); }
  std::string PathOf(const std::string& name) const { return (directory_ / name).string(); }

 private:
  std::filesystem::path directory_;
};

// A message index already holding `count` records.
void PrefillIndex(const BenchStore& store, int count) {
  std::string header(MessageRecord::kSize, '\0');
  PutInt32(header, MessageIndexHeader::kRecordCountOffset, count);
  PutInt32(header, MessageIndexHeader::kHighestNumberOffset, count);
  std::ofstream out(store.PathOf(kMessagesFileName), std::ios::binary);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  std::string record = MessageRecord{}.ToBytes();
  for (int i = 0; i < count; ++i) out.write(record.data(), static_cast<std::streamsize>(record.size()));
}

// One received message: its number, recipients file and index record.
void StoreOneMessage(const RecipientsFileContent& recipients) {
  StoredMessageValues values;
  values.MessageNumber = NewMessageNumber();
  values.UserId = 1;
  values.AccountId = 3;
  values.FolderId = 10;
  values.MessageFileName = MessageFileName(values.MessageNumber, 3, 1);
  values.RecipientsFileName = RecipientsFileName(values.MessageNumber, 3, 1);
  values.Subject = "Quarterly report";
  values.SenderText = "Sue <sue@example.org>";
  WriteRecipientsFile(StoredFilePath(values.RecipientsFileName), recipients);
  StoreMessage(values);
}

RecipientsFileContent SampleRecipients() {
  RecipientsFileContent recipients;
  recipients.To = {{"ann@example.org", "Ann"}, {"bob@example.org", "Bob"}};
  recipients.Cc = {{"cy@example.org", "Cy"}};
  recipients.Sender = {"sue@example.org", "Sue"};
  return recipients;
}

// Per-append cost with `range(0)` records already in the index: it must
// not grow with the number of records.
void BM_StoreMessage(benchmark::State& state) {
  BenchStore store;
  PrefillIndex(store, static_cast<int>(state.range(0)));
  const RecipientsFileContent recipients = SampleRecipients();
  for (auto _ : state) StoreOneMessage(recipients);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreMessage)->Arg(0)->Arg(10000)->Arg(100000)->Iterations(10000)
    ->Unit(benchmark::kMicrosecond);

// 200 rules in force, none matching (every rule is read and evaluated), for
// 10,000 messages.
void BM_FindRuleFolder(benchmark::State& state) {
  BenchStore store;
  std::string rules(RuleRecord::kSize, '\0');
  for (int i = 1; i <= 200; ++i) {
    RuleRecord rule;
    rule.RuleId = i;
    rule.UserId = 1;
    rule.TargetFolderId = 100 + i;
    rule.ConditionField = {"SUBJECT", "SENDER", "[MESSAGE TEXT]", "X-Mailer"};
    rule.ConditionContains = {1, 1, 1, 1};
    rule.ConditionValue = {"never " + std::to_string(i), "nobody", "absent", "none"};
    rule.ConditionJoin = {0, 0, 0, 0};
    rules += rule.ToBytes();
  }
  std::ofstream(store.PathOf(kRulesFileName), std::ios::binary) << rules;
  BuildRuleList(1);
  TmsHeaders headers{"From: Sue <sue@example.org>", "To: Ann <ann@example.org>",
                     "Subject: Quarterly report", "X-Mailer: Bench"};
  TmsAddressList to, cc, bcc;
  to.AddAddress("ann@example.org", "Ann");
  TStringList body(40, "A line of body text that the rules search through.");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindRuleFolder(headers, "Quarterly report",
                                            "<sue@example.org>Sue", to, cc, bcc, body, 10));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindRuleFolder)->Iterations(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillon
