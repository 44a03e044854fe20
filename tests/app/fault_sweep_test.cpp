// Whole runs against a private Dovecot while the disk fails: for every
// kind of file call (open, write, sync, rename, close) the Nth call of a
// clean run fails with ENOSPC, EIO or EDQUOT. Each faulted run must end with
// an error, delete from the server only what is complete in the store and
// leave no index header that counts a missing record; a second run with the
// disk well again must leave every message in the store or on the server.
//
// By default a sample of N spread over each range is run (a few dozen runs
// per mode); QUILLON_FAULT_SWEEP=full runs every N (bench/fault_sweep).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "rules/received_message.h"
#include "store/folder_record.h"
#include "store/user_record.h"
#include "tests/app/end_to_end_support.h"
#include "tests/app/retrieval_test_support.h"
#include "tests/support/dovecot_server.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::DovecotServer;
using test::TestMail;

enum class SweepMode { kPop3Delete, kPop3Keep, kImap };

const char* ModeName(SweepMode mode) {
  switch (mode) {
    case SweepMode::kPop3Delete:
      return "POP3 delete mode";
    case SweepMode::kPop3Keep:
      return "POP3 keep mode";
    case SweepMode::kImap:
      return "IMAP";
  }
  return "?";
}

constexpr int kMessages = 4;  // the fourth has an attachment
constexpr int kErrorCodes[] = {ENOSPC, EIO, EDQUOT};
constexpr FileOperation kKinds[] = {FileOperation::kOpen, FileOperation::kWrite,
                                    FileOperation::kSync, FileOperation::kRename,
                                    FileOperation::kClose};
constexpr long kSamplesPerKind = 4;

bool FullSweep() {
  const char* value = std::getenv("QUILLON_FAULT_SWEEP");
  return value != nullptr && std::string(value) == "full";
}

// Which N of 1..count a sweep tries: all of them, or the first, the last
// and a few spread between.
std::vector<long> ChosenCalls(long count) {
  std::set<long> chosen;
  if (FullSweep() || count <= kSamplesPerKind) {
    for (long n = 1; n <= count; ++n) chosen.insert(n);
  } else {
    for (long i = 0; i < kSamplesPerKind; ++i) {
      chosen.insert(1 + i * (count - 1) / (kSamplesPerKind - 1));
    }
  }
  return {chosen.begin(), chosen.end()};
}

// What one mode's sweep found, for the summary line.
struct SweepFigures {
  int faults_injected = 0;
  int runs = 0;
  int messages_lost = 0;
  int orphan_files = 0;
  std::map<std::string, int> duplicates_by_kind;
};

// The components of one run, as the status window holds them.
struct RunComponents {
  TmsRemotePOP pop;
  TMailboxList mailboxes;
  TImap4Client imap;
  TmsMessage source;
  TmsMessage reply;
  TmsSMTP reply_mail;
  test::RecordingRunView view;
  TRetrievalDriver driver{pop, imap, source, view};
  TReceivedMessageStep step{source, reply, reply_mail, view, nullptr};
};

// How a run ended.
struct RunEnd {
  bool threw = false;
  std::string error;
  int exit_code = -1;
};

class FaultSweepTest : public ::testing::TestWithParam<SweepMode> {
 protected:
  static void SetUpTestSuite() {
    if (DovecotServer::Available()) {
      dovecot_ = std::make_unique<DovecotServer>(
          std::vector<DovecotServer::User>{{"joe", "pw"}});
    }
  }
  static void TearDownTestSuite() { dovecot_.reset(); }
  void SetUp() override {
    if (dovecot_ == nullptr) GTEST_SKIP() << "Dovecot is not installed";
    char pattern[] = "/tmp/quillon-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (int n = 1; n <= kMessages; ++n) {
      mails_.push_back(test::MakeTestMail(n, "anna@quillon.test", 3));
    }
    InstallTalker(&talker_);
  }
  void TearDown() override {
    InstallTalker(nullptr);
    StopWatchingFileOperations();
    if (!root_.empty()) fs::remove_all(root_);
  }

  // A fresh store and a mailbox holding just the test messages.
  void StartCase() {
    data_ = root_ + "/data" + std::to_string(++cases_);
    fs::create_directories(data_ + "/" + kStoredMessagesFolder);
    const std::string maildir = dovecot_->MaildirPath("joe");
    for (const char* folder : {"/new", "/cur"}) {
      for (const auto& entry : fs::directory_iterator(maildir + folder)) {
        fs::remove(entry.path());
      }
    }
    for (const TestMail& mail : mails_) dovecot_->Deliver("joe", mail.raw);
  }

  RunEnd Run() {
    SetDataDirectory(data_);
    CurrentRunState() = RunState{};
    RunState& run = CurrentRunState();
    run.RetrievedName = data_ + "/retrieved.txt";
    run.DeleteMode = GetParam() == SweepMode::kPop3Delete;
    run.CurrentAccountId = 3;
    run.CurrentUserId = 1;
    CurrentAccount() = AccountRecord{};
    CurrentAccount().Id = 3;
    CurrentAccount().EMailAddress = "anna@quillon.test";
    CurrentUser() = UserRecord{};
    CurrentUser().Id = 1;
    auto run_parts = std::make_unique<RunComponents>();
    RunComponents& parts = *run_parts;
    parts.pop.SetServer(dovecot_->Pop3Address());
    parts.pop.SetUserName("joe");
    parts.pop.SetPassword("pw");
    parts.pop.SetTimeOut(20);
    parts.imap.SetAllMailboxes(&parts.mailboxes);
    parts.imap.SetTimeOut(20);
    parts.imap.SetOpenAsReadOnly(false);
    if (GetParam() == SweepMode::kImap) {
      CurrentAccount().IsImap = true;
      CurrentAccount().ImapHost = dovecot_->ImapAddress();
      CurrentAccount().ImapUser = "joe";
      CurrentAccount().ImapPassword = "pw";
    }
    parts.driver.ProcessReceivedMessage = [&parts] {
      parts.step.ProcessReceivedMessage();
    };
    RunEnd end;
    parts.driver.Terminate = [&end](int code) { end.exit_code = code; };
    try {
      parts.driver.RunRetrieval();
    } catch (const std::exception& error) {
      end.threw = true;
      end.error = error.what();
    }
    if (end.exit_code < 0) end.exit_code = parts.driver.ExitCode();
    return end;
  }

  // Test message numbers whose text is still on the server.
  std::set<int> OnServer() const {
    std::set<int> numbers;
    const std::string maildir = dovecot_->MaildirPath("joe");
    for (const char* folder : {"/new", "/cur"}) {
      for (const auto& entry : fs::directory_iterator(maildir + folder)) {
        const std::string text = test::ReadWholeFile(entry.path().string());
        for (const TestMail& mail : mails_) {
          if (text.find(mail.body_marker) != std::string::npos) {
            numbers.insert(mail.number);
          }
        }
      }
    }
    return numbers;
  }

  // The message index's header counts only records that are there, each
  // with its folder index entry.
  ::testing::AssertionResult IndexIsWhole() const {
    const std::string index = test::ReadWholeFile(data_ + "/" + kMessagesFileName);
    if (index.empty()) return ::testing::AssertionSuccess();
    if (index.size() < MessageRecord::kSize) {
      return ::testing::AssertionFailure() << "index shorter than its header";
    }
    const int counted = GetInt32(index, MessageIndexHeader::kRecordCountOffset);
    const int present = test::RecordsInIndexFile(data_);
    if (counted > present) {
      return ::testing::AssertionFailure()
             << "header counts " << counted << " records, " << present << " there";
    }
    const std::string entries = test::ReadWholeFile(data_ + "/" + kFolderIndexFileName);
    for (const test::StoredMessage& stored : test::ReadStoredMessages(data_)) {
      const std::size_t at =
          static_cast<std::size_t>(stored.record_number) * FolderIndexEntry::kSize;
      if (entries.size() < at + FolderIndexEntry::kSize ||
          FolderIndexEntry::FromBytes(entries.substr(at, FolderIndexEntry::kSize))
                  .MessageNumber != stored.record.MessageNumber) {
        return ::testing::AssertionFailure()
               << "record " << stored.record_number << " has no folder index entry";
      }
      if (!stored.message_file_exists || !stored.recipients_file_exists) {
        return ::testing::AssertionFailure()
               << "record " << stored.record_number << " names a missing file";
      }
    }
    return ::testing::AssertionSuccess();
  }

  // One faulted run and the run after it; adds to `figures`.
  void SweepCase(FileOperation kind, long nth, int error_code, SweepFigures& figures) {
    const std::string label = std::string(ModeName(GetParam())) + ", " +
                              FileOperationName(kind) + " #" + std::to_string(nth) +
                              " fails with " + std::strerror(error_code);
    SCOPED_TRACE(label);
    StartCase();
    WatchFileOperations(kind, nth, error_code);
    const auto started = std::chrono::steady_clock::now();
    const RunEnd faulted = Run();
    const auto took = std::chrono::steady_clock::now() - started;
    StopWatchingFileOperations();
    if (took > std::chrono::seconds(5)) {
      std::cout << "[fault sweep] slow: " << label << ": "
                << std::chrono::duration_cast<std::chrono::seconds>(took).count()
                << " s, " << faulted.error << "\n";
    }
    ++figures.runs;
    if (!FileFaultInjected()) return;
    ++figures.faults_injected;

    EXPECT_TRUE(faulted.threw) << "the run ended as if whole";
    EXPECT_EQ(faulted.exit_code, kExitRunFailed);
    EXPECT_FALSE(faulted.error.empty());
    const std::set<int> left = OnServer();
    const test::StoreCensus census = test::TakeCensus(data_, mails_);
    for (const TestMail& mail : mails_) {
      if (left.count(mail.number) == 0) {
        EXPECT_EQ(census.complete_copies.count(mail.number), 1u)
            << "message " << mail.number << " deleted but not stored whole";
      }
    }
    EXPECT_TRUE(IndexIsWhole());

    const RunEnd recovery = Run();
    ++figures.runs;
    EXPECT_FALSE(recovery.threw) << recovery.error;
    EXPECT_EQ(recovery.exit_code, kExitNormal);
    EXPECT_TRUE(IndexIsWhole());
    const std::set<int> still_left = OnServer();
    const test::StoreCensus after = test::TakeCensus(data_, mails_);
    EXPECT_EQ(after.records_without_message_file, 0);
    EXPECT_EQ(after.records_of_unknown_messages, 0);
    figures.orphan_files += after.message_files_without_record;
    for (const TestMail& mail : mails_) {
      const auto copies = after.complete_copies.find(mail.number);
      const int stored = copies == after.complete_copies.end() ? 0 : copies->second;
      if (stored == 0 && still_left.count(mail.number) == 0) {
        ++figures.messages_lost;
        ADD_FAILURE() << "message " << mail.number << " lost";
      }
      if (stored > 1) figures.duplicates_by_kind[FileOperationName(kind)] += stored - 1;
    }
    if (GetParam() != SweepMode::kPop3Keep) {
      EXPECT_TRUE(still_left.empty()) << "the second run left messages on the server";
    }
  }

  static std::unique_ptr<DovecotServer> dovecot_;
  std::string root_;
  std::string data_;
  int cases_ = 0;
  std::vector<TestMail> mails_;
  test::RecordingTalker talker_;
};

std::unique_ptr<DovecotServer> FaultSweepTest::dovecot_;

TEST_P(FaultSweepTest, EveryFailingFileCallEndsTheRunWithoutLosingMail) {
  // A clean run counts the calls there are to fail.
  StartCase();
  WatchFileOperations();
  const RunEnd clean = Run();
  StopWatchingFileOperations();
  ASSERT_FALSE(clean.threw) << clean.error;
  ASSERT_EQ(test::TakeCensus(data_, mails_).complete_copies.size(),
            static_cast<std::size_t>(kMessages));
  std::map<FileOperation, long> counts;
  for (FileOperation kind : kKinds) counts[kind] = FileOperationCount(kind);
  ASSERT_GT(counts[FileOperation::kWrite], 0);

  SweepFigures figures;
  int error_index = 0;
  for (FileOperation kind : kKinds) {
    for (long nth : ChosenCalls(counts[kind])) {
      const int error_code = kErrorCodes[error_index++ % std::size(kErrorCodes)];
      SweepCase(kind, nth, error_code, figures);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(figures.messages_lost, 0);

  std::string counted, duplicates;
  for (FileOperation kind : kKinds) {
    counted += std::string(" ") + FileOperationName(kind) + "=" +
               std::to_string(counts[kind]);
  }
  for (const auto& [kind, number] : figures.duplicates_by_kind) {
    duplicates += " " + kind + "=" + std::to_string(number);
  }
  std::cout << "[fault sweep] " << ModeName(GetParam()) << ": calls in a clean run:"
            << counted << "; faults injected " << figures.faults_injected << ", runs "
            << figures.runs << ", messages lost " << figures.messages_lost
            << ", duplicates" << (duplicates.empty() ? " none" : duplicates)
            << ", message files without a record " << figures.orphan_files << "\n";
}

INSTANTIATE_TEST_SUITE_P(Modes, FaultSweepTest,
                         ::testing::Values(SweepMode::kPop3Delete, SweepMode::kPop3Keep,
                                           SweepMode::kImap),
                         [](const ::testing::TestParamInfo<SweepMode>& info) {
                           switch (info.param) {
                             case SweepMode::kPop3Delete:
                               return std::string("Pop3Delete");
                             case SweepMode::kPop3Keep:
                               return std::string("Pop3Keep");
                             case SweepMode::kImap:
                               return std::string("Imap");
                           }
                           return std::string("Unknown");
                         });

}  // namespace
}  // namespace quillon
