// A run killed at any point loses no message: build/bin/quillon is killed
// (SIGKILL) at a spread of points of a POP3 delete-mode run and of an IMAP4
// run against a private Dovecot, then run again normally; every message must
// then be complete in the store (index record, message file holding it,
// recipients file) or still on the server. The duplicates such kills leave
// are counted and printed, not failed: a message stored but not yet deleted
// on the server when the run died is fetched again by the next run.
//
// The points are found without timing: the test watches the store (inotify)
// and kills when the n-th message file is created (the file still being
// written), when it is closed after writing (its index record not yet
// appended), when the n-th index record has been appended, or when its
// folder index entry has been written (after the last one the run is
// deleting on the server), plus one kill right after the program started.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/end_to_end_store_watch.h"
#include "tests/app/end_to_end_support.h"
#include "tests/support/dovecot_server.h"

namespace quillon {
namespace {

using test::AccountSetup;
using test::DovecotServer;
using test::MakeTestMail;
using test::ProgramEnd;
using test::ProgramRunner;
using test::RunParameters;
using test::StoreCensus;
using test::StoreWatch;
using When = test::StoreWatch::When;
using test::TestMail;
namespace fs = std::filesystem;

constexpr char kUser[] = "kim";
constexpr char kPassword[] = "kim-secret";
constexpr char kAddress[] = "kim@quillon.test";
constexpr int kMessages = 20;
constexpr int kBodyLines = 1000;  // about 70 KB a message: a run of some length

struct KillPoint {
  When when;
  int nth;  // which message file (1-based); unused for kAtStart
  std::string Name() const {
    switch (when) {
      case When::kAtStart: return "at start";
      case When::kFileCreated: return "as message file " + std::to_string(nth) + " is created";
      case When::kFileWritten: return "after message file " + std::to_string(nth) + " is written";
      case When::kRecordStored: return "after index record " + std::to_string(nth) + " is stored";
      case When::kEntryStored: return "after folder index entry " + std::to_string(nth) + " is stored";
    }
    return {};
  }
};

const std::vector<KillPoint> kKillPoints = {
    {When::kAtStart, 0},         {When::kFileCreated, 1},  {When::kFileWritten, 1},
    {When::kFileCreated, 8},     {When::kFileWritten, 13}, {When::kRecordStored, 10},
    {When::kFileCreated, kMessages}, {When::kFileWritten, kMessages},
    {When::kEntryStored, kMessages}};

enum class Kind { kPop3Delete, kPop3Keep, kImap };

struct KillOutcome {
  std::string point;
  bool killed = false;  // false: the run ended before the point
  int stored_before_rerun = 0;
  // Written into the index file but not yet counted by its header: the
  // next record takes that place.
  int uncounted_records = 0;
  int stored_after_rerun = 0;
  StoreCensus census;
  int left_on_server = 0;
};

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not installed";
    ASSERT_TRUE(fs::exists(ProgramRunner::Program()))
        << ProgramRunner::Program() << " is missing: build the quillon target";
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<DovecotServer::User>{{kUser, kPassword}});
  }

  // Fills the mailbox with kMessages new messages, numbered after the last.
  std::vector<TestMail> Fill() {
    std::vector<TestMail> mails;
    for (int i = 0; i < kMessages; ++i) {
      mails.push_back(MakeTestMail(++last_number_, kAddress, kBodyLines));
      dovecot_->Deliver(kUser, mails.back().raw);
    }
    return mails;
  }

  AccountSetup Account(Kind kind) const {
    AccountSetup setup;
    setup.address = kAddress;
    if (kind == Kind::kImap) {
      setup.imap = true;
      setup.imap_host = dovecot_->ImapAddress();
      setup.imap_user = kUser;
      setup.imap_password = kPassword;
    }
    return setup;
  }

  RunParameters Parameters(const ProgramRunner& runner, Kind kind) const {
    RunParameters parameters;
    parameters.host = dovecot_->Pop3Address();
    parameters.port = dovecot_->Pop3Port();
    parameters.user = kUser;
    parameters.password = kPassword;
    parameters.delete_messages = kind != Kind::kPop3Keep;
    parameters.retrieved_name = runner.Directory() + "/retrieved.lst";
    return parameters;
  }

  KillOutcome KillAndRunAgain(const KillPoint& point, Kind kind) {
    KillOutcome outcome;
    outcome.point = point.Name();
    if (kind == Kind::kPop3Keep) {
      // Keep mode leaves the messages of the last point on the server.
      dovecot_.reset();
      dovecot_ = std::make_unique<DovecotServer>(
          std::vector<DovecotServer::User>{{kUser, kPassword}});
    }
    const std::vector<TestMail> mails = Fill();
    ProgramRunner runner;
    // The main application is absent: no session bus to talk to.
    runner.SetEnvironment("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillon-kill-test");
    EXPECT_TRUE(runner.BuildStore(Account(kind)));
    StoreWatch watch(runner.DataDirectory());
    EXPECT_TRUE(watch.Ready());

    const pid_t pid = runner.Start({runner.WriteParameters(Parameters(runner, kind))});
    EXPECT_GT(pid, 0);
    if (pid <= 0) return outcome;
    const bool reached = point.when == When::kAtStart ||
                         watch.WaitFor(point.when, point.nth, pid, std::chrono::seconds(30));
    if (reached) outcome.killed = ::kill(pid, SIGKILL) == 0;
    const ProgramEnd killed_end = runner.Wait(pid);
    outcome.killed = outcome.killed && !killed_end.exited;
    outcome.stored_before_rerun = static_cast<int>(
        test::ReadStoredMessages(runner.DataDirectory()).size());
    outcome.uncounted_records =
        test::RecordsInIndexFile(runner.DataDirectory()) - outcome.stored_before_rerun;

    const ProgramEnd end = runner.Run({runner.WriteParameters(Parameters(runner, kind))});
    EXPECT_EQ(end.exit_code, 0) << end.output;
    outcome.census = test::TakeCensus(runner.DataDirectory(), mails);
    outcome.stored_after_rerun = static_cast<int>(
        test::ReadStoredMessages(runner.DataDirectory()).size());
    outcome.left_on_server = dovecot_->CountMessages(kUser);
    ExpectNothingLost(outcome, mails, kind);
    return outcome;
  }

  static void ExpectNothingLost(const KillOutcome& outcome, const std::vector<TestMail>& mails,
                                Kind kind) {
    SCOPED_TRACE("killed " + outcome.point);
    // The second run ends normally: it empties the mailbox (or, in keep
    // mode, leaves it whole), and every message must be in the store.
    EXPECT_EQ(outcome.left_on_server, kind == Kind::kPop3Keep ? kMessages : 0);
    for (const TestMail& mail : mails) {
      const auto copies = outcome.census.complete_copies.find(mail.number);
      EXPECT_TRUE(copies != outcome.census.complete_copies.end() && copies->second >= 1)
          << "message " << mail.number << " was lost";
    }
    // A record is appended only after its files are complete.
    EXPECT_EQ(outcome.census.records_without_message_file, 0);
    EXPECT_EQ(outcome.census.records_of_unknown_messages, 0);
  }

  static void Report(const std::string& protocol, const std::vector<KillOutcome>& outcomes) {
    std::cout << protocol << ": killed at | stored before the rerun | uncounted records "
              << "| stored after it | stored twice | message files without record\n";
    for (const KillOutcome& outcome : outcomes) {
      int twice = 0;
      for (const auto& [number, copies] : outcome.census.complete_copies) {
        if (copies > 1) twice += copies - 1;
      }
      std::cout << protocol << ": " << outcome.point
                << (outcome.killed ? "" : " (run ended first)") << " | "
                << outcome.stored_before_rerun << " | " << outcome.uncounted_records << " | "
                << outcome.stored_after_rerun
                << " | " << twice << " | "
                << outcome.census.message_files_without_record << "\n";
    }
  }

  std::unique_ptr<DovecotServer> dovecot_;
  int last_number_ = 0;
};

TEST_F(KillTest, Pop3DeleteModeLosesNothingWhereverItIsKilled) {
  std::vector<KillOutcome> outcomes;
  for (const KillPoint& point : kKillPoints) {
    outcomes.push_back(KillAndRunAgain(point, Kind::kPop3Delete));
  }
  Report("POP3 delete", outcomes);
  int killed = 0;
  for (const KillOutcome& outcome : outcomes) killed += outcome.killed ? 1 : 0;
  EXPECT_GE(killed, static_cast<int>(kKillPoints.size()) - 1)
      << "most points must be reached before the run ends";
}

TEST_F(KillTest, ImapLosesNothingWhereverItIsKilled) {
  std::vector<KillOutcome> outcomes;
  for (const KillPoint& point : kKillPoints) {
    outcomes.push_back(KillAndRunAgain(point, Kind::kImap));
  }
  Report("IMAP4", outcomes);
  int killed = 0;
  for (const KillOutcome& outcome : outcomes) killed += outcome.killed ? 1 : 0;
  EXPECT_GE(killed, static_cast<int>(kKillPoints.size()) - 1)
      << "most points must be reached before the run ends";
}

// Keep mode lists each message after storing it, so a message is stored
// twice only when the kill fell between its index record and its line.
TEST_F(KillTest, Pop3KeepModeLosesNothingAndFetchesAgainOnlyWhatWasNotListed) {
  const std::vector<KillPoint> points = {
      {When::kFileCreated, 3}, {When::kFileWritten, 9}, {When::kRecordStored, 12},
      {When::kEntryStored, 16}, {When::kEntryStored, kMessages}};
  std::vector<KillOutcome> outcomes;
  for (const KillPoint& point : points) {
    outcomes.push_back(KillAndRunAgain(point, Kind::kPop3Keep));
  }
  Report("POP3 keep", outcomes);
  int killed = 0;
  for (const KillOutcome& outcome : outcomes) killed += outcome.killed ? 1 : 0;
  EXPECT_GE(killed, static_cast<int>(points.size()) - 1)
      << "most points must be reached before the run ends";
}

}  // namespace
}  // namespace quillon
