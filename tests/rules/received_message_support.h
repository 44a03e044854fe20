// A store, a run state and the status window's components for tests of the
// received-message step: a recording status line, a recording printer and
// a recording talker; replies and forwards go wherever the account's SMTP
// host points (a real aiosmtpd in most tests).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "platform/streams.h"
#include "rules/received_message.h"
#include "rules/run_state.h"
#include "rules/talker_sender.h"
#include "store/account_record.h"
#include "store/folder_record.h"
#include "store/message_store.h"
#include "store/rule_record.h"
#include "store/user_record.h"
#include "tests/store/store_test_support.h"
#include "tests/support/recording_talker.h"

namespace quillon::test {

class RecordingView final : public ReceivedMessageView {
 public:
  void SetStatusText(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

class RecordingPrinter final : public MessagePrinter {
 public:
  void PrintReceivedMessage(const PrintRequest& request) override {
    requests.push_back(request);
  }
  std::vector<PrintRequest> requests;
};

inline constexpr int kUserId = 1;
inline constexpr int kAccountId = 4;
inline constexpr int kIncomingFolder = 13;
inline constexpr int kWorkFolder = 20;
inline constexpr char kOwnAddress[] = "me@acct.example";

inline std::string FolderBytes(int folder_id, const std::string& name, std::uint8_t kind) {
  FolderRecord folder;
  folder.FolderId = folder_id;
  folder.UserId = kUserId;
  folder.AccountId = kAccountId;
  folder.FolderName = name;
  folder.FolderKind = kind;
  return folder.ToBytes();
}

// A rule of the test user that takes messages whose subject holds `word`.
inline RuleRecord SubjectRule(int rule_id, const std::string& word, int target_folder) {
  RuleRecord rule;
  rule.RuleId = rule_id;
  rule.UserId = kUserId;
  rule.TargetFolderId = target_folder;
  rule.RuleName = "Rule " + word;
  rule.ConditionField[0] = "SUBJECT";
  rule.ConditionContains[0] = 1;
  rule.ConditionValue[0] = word;
  return rule;
}

class ReceivedMessageTest : public StoreDirectoryTest {
 protected:
  void SetUp() override {
    StoreDirectoryTest::SetUp();
    RunState& run = CurrentRunState();
    run = RunState{};
    run.CurrentUserId = kUserId;
    run.CurrentAccountId = kAccountId;
    run.CurrentMessageId = "<id-1@example.org>";
    run.CurrentMessageSize = 1234;

    AccountRecord& account = CurrentAccount();
    account = AccountRecord{};
    account.Id = kAccountId;
    account.UserId = kUserId;
    account.EMailAddress = kOwnAddress;
    account.SenderName = "Acct Owner";
    account.ReplyToAddress = "replies@acct.example";
    account.SmtpTimeOut = 20;
    UserRecord& user = CurrentUser();
    user = UserRecord{};
    user.Id = kUserId;
    user.UserName = "Una User";
    user.Organization = "Corvane Test Org";

    WriteBytes(kFoldersFileName, std::string(FolderRecord::kSize, '\0') +
                                     FolderBytes(kIncomingFolder, "Inbox", 2) +
                                     FolderBytes(kWorkFolder, "Work", 0));
    WriteRules({});
    InstallTalker(&talker_);
  }
  void TearDown() override {
    InstallTalker(nullptr);
    StoreDirectoryTest::TearDown();
  }

  void WriteRules(const std::vector<RuleRecord>& rules) {
    std::string bytes(RuleRecord::kSize, '\0');
    for (const RuleRecord& rule : rules) bytes += rule.ToBytes();
    WriteBytes(kRulesFileName, bytes);
    BuildRuleList(kUserId);
  }

  // Decodes raw message text (LF line ends become CR LF) as a run does.
  void Receive(const std::string& text) {
    std::string raw;
    for (char c : text) {
      if (c == '\n') raw += '\r';
      raw += c;
    }
    source_.Clear();
    TMemoryStream stream;
    stream.Write(raw);
    stream.SetPosition(0);
    source_.LoadFromStream(stream);
  }

  void Process(MessagePrinter* printer) {
    TReceivedMessageStep step(source_, reply_, smtp_, view_, printer);
    step.ProcessReceivedMessage();
  }
  void Process() { Process(&printer_); }

  // Data records of the message index.
  std::vector<MessageRecord> StoredRecords() const {
    std::vector<MessageRecord> records;
    if (!Exists(kMessagesFileName)) return records;
    const std::string file = ReadBytes(kMessagesFileName);
    for (std::size_t k = 1; (k + 1) * MessageRecord::kSize <= file.size(); ++k) {
      records.push_back(MessageRecord::FromBytes(RecordAt(file, MessageRecord::kSize, k)));
    }
    return records;
  }

  std::vector<std::string> StoredFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_ / "In")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TmsMessage source_;
  TmsMessage reply_;
  TmsSMTP smtp_;
  RecordingView view_;
  RecordingPrinter printer_;
  RecordingTalker talker_;
};

}  // namespace quillon::test
