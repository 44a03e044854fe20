// The retrieval driver against a private Dovecot, without a window: keep
// mode over several runs (new messages only, trimming, unique ids for
// messages without Message-ID) and the IMAP4 INBOX emptied once stored.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/app/retrieval_test_support.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/test_certificates.h"

namespace quillon {
namespace {

using test::DovecotServer;
using test::MailText;
using test::NumberedMail;
using test::RetrievalTest;

using Lines = std::vector<std::string>;

class RetrievalDovecotTest : public RetrievalTest {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not installed";
    RetrievalTest::SetUp();
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<DovecotServer::User>{{"joe", "pw"}});
    pop.SetServer(dovecot_->Pop3Address());
  }
  void TearDown() override {
    dovecot_.reset();
    if (!directory_.empty()) RetrievalTest::TearDown();
  }
  // One run; the stored subjects of just this run.
  Lines Run() {
    stored.clear();
    EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
    return Subjects();
  }
  Lines ListedLines() const {
    TStringList lines;
    lines.LoadFromFile(CurrentRunState().RetrievedName);
    return Lines(lines.begin(), lines.end());
  }

  std::unique_ptr<DovecotServer> dovecot_;
};

TEST_F(RetrievalDovecotTest, KeepModeFetchesOnlyNewMailAndTrimsTheOldest) {
  for (int n = 1; n <= 3; ++n) dovecot_->Deliver("joe", NumberedMail(n));
  EXPECT_EQ(Run(), (Lines{"Message 1", "Message 2", "Message 3"}));
  EXPECT_EQ(ListedLines().size(), 3u);
  EXPECT_EQ(dovecot_->CountMessages("joe"), 3);

  // Nothing new: nothing fetched, nothing listed.
  EXPECT_EQ(Run(), Lines{});
  EXPECT_EQ(ListedLines().size(), 3u);

  // One more with room for two on the server: the new one is fetched, the
  // two oldest go from the server and from the list.
  dovecot_->Deliver("joe", NumberedMail(4));
  CurrentRunState().MaxMessages = 2;
  EXPECT_EQ(Run(), (Lines{"Message 4"}));
  EXPECT_EQ(dovecot_->CountMessages("joe"), 2);
  const Lines lines = ListedLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(test::MessageIdOf(3), 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind(test::MessageIdOf(4), 0), 0u) << lines[1];
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal, kExitNormal, kExitNormal}));
}

TEST_F(RetrievalDovecotTest, MessagesWithoutMessageIdAndEqualDatesAreEachFetchedOnce) {
  const std::string date = "Tue, 08 Dec 2026 12:00:00 +0000";
  dovecot_->Deliver("joe", MailText("First", "", date));
  EXPECT_EQ(Run(), (Lines{"First"}));
  dovecot_->Deliver("joe", MailText("Second", "", date));
  EXPECT_EQ(Run(), (Lines{"Second"}));
  EXPECT_EQ(Run(), Lines{});
  const Lines lines = ListedLines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind("UIDL:", 0), 0u) << line;
  }
  EXPECT_NE(lines[0], lines[1]);
}

TEST_F(RetrievalDovecotTest, DeleteModeEmptiesTheMailbox) {
  CurrentRunState().DeleteMode = true;
  for (int n = 1; n <= 3; ++n) dovecot_->Deliver("joe", NumberedMail(n));
  EXPECT_EQ(Run(), (Lines{"Message 1", "Message 2", "Message 3"}));
  EXPECT_EQ(dovecot_->CountMessages("joe"), 0);
  EXPECT_EQ(sync_transcripts.size(), 1u);
}

TEST_F(RetrievalDovecotTest, PipelinedRunsStoreTheSameAndDeleteOnlyAfterTheFlush) {
  // More messages than one window holds, so it is refilled as replies come.
  pop.SetPipeliningAllowed(true);
  std::vector<std::string> trace;
  pop.OnTrace = [&](const std::string& line) { trace.push_back(line); };
  std::vector<std::string> trace_at_flush;
  driver.SyncStoredFiles = [&] {
    trace_at_flush = trace;
    return true;
  };
  Lines all;
  for (int n = 1; n <= 40; ++n) {
    dovecot_->Deliver("joe", NumberedMail(n));
    all.push_back("Message " + std::to_string(n));
  }
  EXPECT_EQ(Run(), all);
  EXPECT_TRUE(pop.ServerPipelining());
  EXPECT_EQ(Run(), Lines{});
  EXPECT_EQ(dovecot_->CountMessages("joe"), 40);

  CurrentRunState().DeleteMode = true;
  trace.clear();
  EXPECT_EQ(Run(), all);
  EXPECT_EQ(dovecot_->CountMessages("joe"), 0);
  // Every DELE went out before the flush, the QUIT that makes them final
  // only after it.
  EXPECT_TRUE(test::Holds(trace_at_flush, "C: DELE 40"));
  EXPECT_FALSE(test::Holds(trace_at_flush, "C: QUIT"));
  EXPECT_TRUE(test::Holds(trace, "C: QUIT"));
}

TEST_F(RetrievalDovecotTest, ImapRunStoresAndDeletesTheWholeInbox) {
  CurrentAccount().IsImap = true;
  CurrentAccount().ImapHost = dovecot_->ImapAddress();
  CurrentAccount().ImapUser = "joe";
  CurrentAccount().ImapPassword = "pw";
  for (int n = 1; n <= 3; ++n) dovecot_->Deliver("joe", NumberedMail(n));
  EXPECT_EQ(Run(), (Lines{"Message 1", "Message 2", "Message 3"}));
  EXPECT_EQ(dovecot_->CountMessages("joe"), 0);
  EXPECT_EQ(ListedLines().size(), 3u);
  EXPECT_EQ(sync_transcripts.size(), 1u);
  EXPECT_EQ(view.counter_texts, (Lines{"1 of 3...", "2 of 3...", "3 of 3..."}));
}

class RetrievalTlsTest : public RetrievalTest {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available() || !test::TestCertificates::Available()) {
      GTEST_SKIP() << "Dovecot or openssl is not installed";
    }
    RetrievalTest::SetUp();
  }
  void TearDown() override {
    CurrentRunState().Pop3 = Pop3Parameters{};
    if (!directory_.empty()) RetrievalTest::TearDown();
  }
};

TEST_F(RetrievalTlsTest, ImapRunUsesTheParameterFilesSecurityAndCaFile) {
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  const test::TestCertificate certificate = certificates.Server();
  DovecotServer dovecot({{"joe", "pw"}},
                        DovecotServer::Tls{certificate.certificate_file, certificate.key_file});
  CurrentAccount().IsImap = true;
  CurrentAccount().ImapHost = dovecot.ImapAddress();
  CurrentAccount().ImapUser = "joe";
  CurrentAccount().ImapPassword = "pw";
  CurrentRunState().Pop3.Security = TSecurity::kStartTls;
  dovecot.Deliver("joe", NumberedMail(1));
  // A certificate from a CA not trusted is a failed connection.
  CurrentRunState().Pop3.CAFile = certificates.OtherCaFile();
  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(dovecot.CountMessages("joe"), 1);
  CurrentRunState().Pop3.CAFile = certificates.CaFile();
  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Subjects(), Lines{"Message 1"});
  EXPECT_EQ(dovecot.CountMessages("joe"), 0);
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitConnectionFailed, kExitNormal}));
  EXPECT_NE(dovecot.LogText().find(", TLS"), std::string::npos);
}

}  // namespace
}  // namespace quillon
