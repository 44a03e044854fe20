// The retrieval driver's IMAP4 runs against a scripted server: the whole
// INBOX fetched, stored, listed and deleted; an empty INBOX; an undated
// message; the flush before the deletion; the mailbox not growing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/retrieval_test_support.h"

namespace quillon {
namespace {

using test::DateOf;
using test::Holds;
using test::MailText;
using test::MessageIdOf;
using test::NumberedMail;
using test::RetrievalTest;
using test::ImapSession;
using test::Script;

using Lines = std::vector<std::string>;

Script& FetchAnswer(Script& script, const std::vector<std::string>& mails) {
  script.Expect("A5 FETCH 1:* (FLAGS INTERNALDATE RFC822 ENVELOPE)");
  for (std::size_t i = 0; i < mails.size(); ++i) {
    script.SendRaw("* " + std::to_string(i + 1) +
                   " FETCH (FLAGS () INTERNALDATE \"07-Dec-2026 10:00:00 +0000\" "
                   "RFC822 {" + std::to_string(mails[i].size()) + "}\r\n" +
                   mails[i] + ")\r\n");
  }
  return script.Send("A5 OK fetched");
}

Script& Logout(Script& script, const std::string& tag) {
  return script.Expect(tag + " LOGOUT").Send("* BYE").Send(tag + " OK");
}

std::string ListedDate(const std::string& mail_date) {
  TDateTime date = 0;
  std::string rest;
  ParseMailDate(mail_date, date, rest);
  return ShortDateText(date);
}

TEST_F(RetrievalTest, ImapRunStoresListsAndDeletesTheWholeInbox) {
  const std::vector<std::string> mails = {NumberedMail(1), NumberedMail(2),
                                          NumberedMail(3)};
  Script script = ImapSession(3);
  FetchAnswer(script, mails)
      .Expect("A6 STORE 1:3 +FLAGS (\\Deleted)")
      .Send("A6 OK")
      .Expect("A7 EXPUNGE")
      .Send("* 1 EXPUNGE")
      .Send("* 1 EXPUNGE")
      .Send("* 1 EXPUNGE")
      .Send("A7 OK");
  Logout(script, "A8");
  StartImap(script);
  // How many messages the mailbox holds while each one is stored.
  std::vector<int> held;
  driver.ProcessReceivedMessage = [&] {
    held.push_back(imap.CurrentMailbox().Count());
    RecordStep();
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");

  EXPECT_EQ(Subjects(), (Lines{"Message 1", "Message 2", "Message 3"}));
  EXPECT_EQ(held, (std::vector<int>{1, 1, 1}));
  // The driver never sets the Message-ID of an IMAP4 message.
  EXPECT_EQ(stored[0].message_id, "");
  EXPECT_EQ(view.counter_texts, (Lines{"1 of 3...", "2 of 3...", "3 of 3..."}));
  EXPECT_TRUE(Holds(view.status_texts, "Retrieving message 2..."));
  EXPECT_EQ(ReadFile(Path("retrieved.txt")),
            MessageIdOf(1) + "|" + ListedDate(DateOf(1)) + "\r\n" +
                MessageIdOf(2) + "|" + ListedDate(DateOf(2)) + "\r\n" +
                MessageIdOf(3) + "|" + ListedDate(DateOf(3)) + "\r\n");
  EXPECT_TRUE(CommandsBeginning("NowDL:").empty());
  EXPECT_TRUE(CommandsBeginning("StatDL:").empty());
  EXPECT_EQ(talker.commands.front(), "RecvStart:anna@example.org");
  EXPECT_EQ(talker.commands.back(), "RecvStop:anna@example.org");
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal}));

  // What was stored was made durable once, after the fetch and before the
  // messages were marked deleted.
  ASSERT_EQ(sync_transcripts.size(), 1u);
  EXPECT_TRUE(Holds(sync_transcripts[0], "S: A5 OK fetched"));
  EXPECT_FALSE(Holds(sync_transcripts[0], "C: A6 STORE 1:3 +FLAGS (\\Deleted)"));

  // Each message left the mailbox once it was stored.
  EXPECT_EQ(imap.CurrentMailbox().Count(), 0);
}

TEST_F(RetrievalTest, EmptyInboxSendsNoFetchStoreOrExpunge) {
  Script script = ImapSession(0);
  Logout(script, "A5");
  StartImap(script);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_TRUE(stored.empty());
  EXPECT_EQ(talker.commands,
            (Lines{"RecvStart:anna@example.org", "RecvStop:anna@example.org"}));
  EXPECT_TRUE(sync_transcripts.empty());
  EXPECT_FALSE(std::filesystem::exists(Path("retrieved.txt")));
}

TEST_F(RetrievalTest, UndatedImapMessageIsListedWithTheDateOfTheRun) {
  const std::string before = ShortDateText(NowDateTime());
  Script script = ImapSession(1);
  FetchAnswer(script, {MailText("Undated", "<u@example.org>", "")})
      .Expect("A6 STORE 1 +FLAGS (\\Deleted)")
      .Send("A6 OK")
      .Expect("A7 EXPUNGE")
      .Send("A7 OK");
  Logout(script, "A8");
  StartImap(script);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  const std::string after = ShortDateText(NowDateTime());
  const std::string listed = ReadFile(Path("retrieved.txt"));
  EXPECT_TRUE(listed == "<u@example.org>|" + before + "\r\n" ||
              listed == "<u@example.org>|" + after + "\r\n")
      << listed;
}

TEST_F(RetrievalTest, FailedFlushLeavesTheImapMessagesOnTheServer) {
  driver.SyncStoredFiles = [] { return false; };
  Script script = ImapSession(1);
  FetchAnswer(script, {NumberedMail(1)});
  Logout(script, "A6");
  StartImap(script);

  EXPECT_ANY_THROW(driver.RunRetrieval());
  EXPECT_EQ(Finish(), "");
  for (const std::string& line : server_->Transcript()) {
    EXPECT_EQ(line.find("STORE"), std::string::npos) << line;
  }
  EXPECT_EQ(talker.commands.back(), "RecvStop:anna@example.org");
}

}  // namespace
}  // namespace quillon
