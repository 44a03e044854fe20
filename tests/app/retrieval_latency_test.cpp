// The retrieval driver against a private Dovecot behind a loopback proxy
// that delays each direction: with commands sent ahead, the replies come
// split and bunched as on a distant link, and the run must still store
// and report exactly what a one-command-at-a-time run does.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/retrieval_test_support.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/latency_proxy.h"

namespace quillon {
namespace {

using test::DovecotServer;
using test::LatencyProxy;
using test::RetrievalTest;

using Lines = std::vector<std::string>;

constexpr int kDelayMs = 10;

// Message `n` of the test mailboxes: bodies from a few lines to some tens
// of kilobytes, with lines that begin with a dot, so replies cross the
// proxy's reads and dot transparency meets the splits.
std::string SizedMail(int n) {
  std::string text = "From: Ann <ann@example.org>\r\nTo: bob@example.net\r\n"
                     "Message-ID: " + test::MessageIdOf(n) + "\r\nDate: " +
                     test::DateOf(n) + "\r\nSubject: Message " +
                     std::to_string(n) + "\r\n\r\n";
  for (int line = 0; line < n * n * 2; ++line) {
    text += (line % 7 == 0 ? "." : "") + std::string("line ") +
            std::to_string(line) + " of message " + std::to_string(n) + "\r\n";
  }
  return text;
}

// A message's data block as the server sends it and the client hands it
// on: lines beginning with a dot doubled, and the closing "." line.
std::string DataBlock(const std::string& mail) {
  std::string block;
  std::size_t start = 0;
  while (start < mail.size()) {
    const std::size_t end = mail.find("\r\n", start) + 2;
    if (mail[start] == '.') block += '.';
    block.append(mail, start, end - start);
    start = end;
  }
  return block + ".\r\n";
}

// The number of the first block that differs (1-based), 0 when all agree;
// the blocks are too long for a readable diff.
std::size_t FirstDifference(const Lines& got, const Lines& wanted) {
  for (std::size_t i = 0; i < std::max(got.size(), wanted.size()); ++i) {
    if (i >= got.size() || i >= wanted.size() || got[i] != wanted[i]) return i + 1;
  }
  return 0;
}

// The commands of `sent` that begin with `prefix`, in their order.
Lines CommandsOf(const Lines& sent, const std::string& prefix) {
  Lines found;
  std::copy_if(sent.begin(), sent.end(), std::back_inserter(found),
               [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  return found;
}

Lines Sorted(Lines lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// What one run showed and stored.
struct RunRecord {
  Lines status_texts;
  Lines counter_texts;
  Lines talker_commands;
  Lines stored;  // subject, message id and size of each stored message
  Lines saved_bytes;
  Lines bodies;  // the body of each stored message, lines joined by CR LF
  Lines commands_sent;
  std::vector<int> exit_codes;
};

class RetrievalLatencyTest : public RetrievalTest {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available() || !LatencyProxy::Available()) {
      GTEST_SKIP() << "Dovecot or python3 is not installed";
    }
    RetrievalTest::SetUp();
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<DovecotServer::User>{{"joe", "pw"}, {"ann", "pw"}});
    // The bytes as the client handed them over, before the driver's step.
    auto save = pop.OnUserMessageSave;
    pop.OnUserMessageSave = [this, save](TagSocket& sender, int num,
                                         TMemoryStream& contents) {
      saved_bytes_.push_back(contents.Data());
      save(sender, num, contents);
    };
    driver.ProcessReceivedMessage = [this] {
      bodies_.push_back(JoinedBody());
      RecordStep();
    };
    pop.OnTrace = [this](const std::string& line) {
      if (line.rfind("C: ", 0) == 0) commands_sent_.push_back(line);
    };
  }
  void TearDown() override {
    dovecot_.reset();
    if (!directory_.empty()) RetrievalTest::TearDown();
  }

  // One run for `user` at `address`, from a fresh run state.
  RunRecord RecordedRun(const std::string& user, const std::string& address,
                        bool pipelining, bool delete_mode) {
    RunState& run = CurrentRunState();
    run = RunState{};
    run.RetrievedName = Path("retrieved-" + user + ".txt");
    run.DeleteMode = delete_mode;
    pop.SetUserName(user);
    pop.SetServer(address);
    pop.SetPipeliningAllowed(pipelining);
    view.status_texts.clear();
    view.counter_texts.clear();
    talker.commands.clear();
    stored.clear();
    exit_codes.clear();
    saved_bytes_.clear();
    bodies_.clear();
    commands_sent_.clear();
    EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
    RunRecord record{view.status_texts, view.counter_texts, talker.commands,
                     {}, saved_bytes_, bodies_, commands_sent_, exit_codes};
    for (const test::StepMessage& message : stored) {
      record.stored.push_back(message.subject + "|" + message.message_id + "|" +
                              std::to_string(message.size));
    }
    return record;
  }

  std::string JoinedBody() const {
    std::string text;
    for (const std::string& line : message.Body()) text += line + "\r\n";
    return text;
  }

  std::unique_ptr<DovecotServer> dovecot_;
  Lines saved_bytes_;
  Lines bodies_;
  Lines commands_sent_;
};

// The progress texts are left out of the comparison: they follow the
// socket's reads, which the delay changes.
TEST_F(RetrievalLatencyTest, PipelinedDeleteRunThroughTheDelayMatchesADirectRun) {
  Lines blocks;
  Lines bodies;
  for (int n = 1; n <= 30; ++n) {
    const std::string mail = SizedMail(n);
    dovecot_->Deliver("joe", mail);
    dovecot_->Deliver("ann", mail);
    blocks.push_back(DataBlock(mail));
    bodies.push_back(mail.substr(mail.find("\r\n\r\n") + 4));
  }
  const RunRecord direct = RecordedRun("ann", dovecot_->Pop3Address(), false, true);
  LatencyProxy proxy(dovecot_->Pop3Address(), kDelayMs);
  const RunRecord delayed = RecordedRun("joe", proxy.Address(), true, true);
  EXPECT_TRUE(pop.ServerPipelining());

  EXPECT_EQ(FirstDifference(direct.saved_bytes, blocks), 0u);
  EXPECT_EQ(FirstDifference(delayed.saved_bytes, blocks), 0u);
  // The stored message is the text delivered, without the transparency
  // dots of the transfer.
  EXPECT_EQ(FirstDifference(direct.bodies, bodies), 0u);
  EXPECT_EQ(FirstDifference(delayed.bodies, bodies), 0u);
  EXPECT_EQ(dovecot_->CountMessages("ann"), 0);
  EXPECT_EQ(dovecot_->CountMessages("joe"), 0);
  EXPECT_EQ(delayed.stored, direct.stored);
  EXPECT_EQ(delayed.status_texts, direct.status_texts);
  EXPECT_EQ(delayed.counter_texts, direct.counter_texts);
  EXPECT_EQ(delayed.talker_commands, direct.talker_commands);
  EXPECT_EQ(delayed.exit_codes, direct.exit_codes);
  EXPECT_EQ(direct.exit_codes, std::vector<int>{kExitNormal});
  // The same commands but for the user and the capability question that
  // opens pipelining; the deletions may go out later, but in the same order
  // and before the QUIT that makes them final.
  Lines asked = direct.commands_sent;
  std::replace(asked.begin(), asked.end(), std::string("C: USER ann"),
               std::string("C: USER joe"));
  asked.push_back("C: CAPA");
  EXPECT_EQ(Sorted(delayed.commands_sent), Sorted(asked));
  EXPECT_EQ(CommandsOf(delayed.commands_sent, "C: RETR"),
            CommandsOf(direct.commands_sent, "C: RETR"));
  EXPECT_EQ(CommandsOf(delayed.commands_sent, "C: DELE"),
            CommandsOf(direct.commands_sent, "C: DELE"));
  EXPECT_EQ(delayed.commands_sent.back(), "C: QUIT");
}

TEST_F(RetrievalLatencyTest, KeepRunWithNothingNewThroughTheDelayFetchesAndDeletesNothing) {
  for (int n = 1; n <= 5; ++n) dovecot_->Deliver("joe", SizedMail(n));
  ASSERT_EQ(RecordedRun("joe", dovecot_->Pop3Address(), false, false).stored.size(), 5u);
  const RunRecord direct = RecordedRun("joe", dovecot_->Pop3Address(), false, false);
  LatencyProxy proxy(dovecot_->Pop3Address(), kDelayMs);
  const RunRecord delayed = RecordedRun("joe", proxy.Address(), true, false);
  EXPECT_TRUE(pop.ServerPipelining());

  EXPECT_EQ(direct.stored, Lines{});
  EXPECT_EQ(delayed.stored, Lines{});
  EXPECT_EQ(dovecot_->CountMessages("joe"), 5);
  // The run stops at the newest header it knows; the delayed one has asked
  // ahead for older headers too, whose replies it drops. Nothing is
  // downloaded or deleted.
  Lines asked = direct.commands_sent;
  asked.insert(asked.begin() + 3, "C: CAPA");
  asked.pop_back();  // QUIT
  ASSERT_GE(delayed.commands_sent.size(), asked.size());
  EXPECT_TRUE(std::equal(asked.begin(), asked.end(), delayed.commands_sent.begin()));
  EXPECT_EQ(CommandsOf(delayed.commands_sent, "C: TOP").front(), "C: TOP 5 1");
  EXPECT_EQ(CommandsOf(delayed.commands_sent, "C: RETR"), Lines{});
  EXPECT_EQ(CommandsOf(delayed.commands_sent, "C: DELE"), Lines{});
  EXPECT_EQ(delayed.commands_sent.back(), "C: QUIT");
  EXPECT_EQ(delayed.status_texts, direct.status_texts);
  EXPECT_EQ(delayed.counter_texts, direct.counter_texts);
  EXPECT_EQ(delayed.exit_codes, std::vector<int>{kExitNormal});
}

}  // namespace
}  // namespace quillon
