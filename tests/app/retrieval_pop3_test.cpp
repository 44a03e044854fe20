// The retrieval driver's POP3 runs against scripted servers: keep mode with
// its duplicate detection and trimming, delete mode, list mode, the
// progress texts, the talker commands, and the ways out of a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/retrieval_test_support.h"

namespace quillon {
namespace {

using test::Holds;
using test::MailText;
using test::MessageIdOf;
using test::DateOf;
using test::NumberedMail;
using test::Pop3Dialogue;
using test::RetrievalTest;

using Lines = std::vector<std::string>;

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string KeyOf(int n) { return MessageIdOf(n) + DateOf(n); }

// --- keep mode ---------------------------------------------------------------

TEST_F(RetrievalTest, KeepModeFetchesEveryNewMessageInServerOrder) {
  Pop3Dialogue dialogue;
  dialogue.Login(3);
  for (int k = 2; k >= 0; --k) dialogue.Info(k, NumberedMail(k));
  for (int i = 0; i < 3; ++i) {
    dialogue.Info(i, NumberedMail(i)).Retrieve(i, NumberedMail(i));
  }
  dialogue.Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");

  EXPECT_EQ(Subjects(), (Lines{"Message 0", "Message 1", "Message 2"}));
  EXPECT_EQ(stored[1].message_id, MessageIdOf(1));
  EXPECT_EQ(stored[1].size, static_cast<int>(NumberedMail(1).size()));
  EXPECT_EQ(CommandsBeginning("NowDL:"),
            (Lines{"NowDL:1/3", "NowDL:2/3", "NowDL:3/3"}));
  EXPECT_EQ(talker.commands.front(), "RecvStart:anna@example.org");
  EXPECT_EQ(talker.commands.back(), "RecvStop:anna@example.org");
  EXPECT_EQ(view.counter_texts,
            (Lines{"1 of 3 (3 messages on server)...",
                   "2 of 3 (3 messages on server)...",
                   "3 of 3 (3 messages on server)..."}));
  EXPECT_EQ(ReadFile(Path("retrieved.txt")),
            Joined({ListedLine(KeyOf(0)), ListedLine(KeyOf(1)),
                    ListedLine(KeyOf(2))}));
  EXPECT_EQ(CurrentRunState().SavedCount, 3);
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal}));
  // Nothing was deleted: nothing had to be made durable first.
  EXPECT_TRUE(sync_transcripts.empty());
}

TEST_F(RetrievalTest, KeepModeWithTheNewestMessageListedFetchesNothing) {
  WriteFile(Path("retrieved.txt"),
            Joined({ListedLine(KeyOf(0)), ListedLine(KeyOf(1))}));
  Pop3Dialogue dialogue;
  dialogue.Login(2).Info(1, NumberedMail(1)).Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_TRUE(stored.empty());
  EXPECT_TRUE(view.counter_texts.empty());  // "Preparing retrieval..." stays
  EXPECT_TRUE(CommandsBeginning("NowDL:").empty());
  EXPECT_EQ(talker.commands,
            (Lines{"RecvStart:anna@example.org", "RecvStop:anna@example.org"}));
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal}));
}

TEST_F(RetrievalTest, KeepModeTrimsTheOldestMessagesBeyondTheLimit) {
  // 200 on the server, 199 of them listed, the limit 150.
  Lines listed;
  for (int n = 0; n < 199; ++n) listed.push_back(ListedLine(KeyOf(n)));
  WriteFile(Path("retrieved.txt"), Joined(listed));
  Pop3Dialogue dialogue;
  dialogue.Login(200)
      .Info(199, NumberedMail(199))
      .Info(198, NumberedMail(198))
      .Info(199, NumberedMail(199))
      .Retrieve(199, NumberedMail(199));
  for (int k = 0; k < 50; ++k) dialogue.Dele(k);
  dialogue.Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(Subjects(), (Lines{"Message 199"}));
  EXPECT_EQ(CommandsBeginning("NowDL:"), (Lines{"NowDL:1/1"}));
  EXPECT_EQ(view.counter_texts, (Lines{"1 of 1 (200 messages on server)..."}));

  // The first 50 lines went with the first 50 messages.
  Lines expected(listed.begin() + 50, listed.end());
  expected.push_back(ListedLine(KeyOf(199)));
  EXPECT_EQ(ReadFile(Path("retrieved.txt")), Joined(expected));

  // Everything was made durable once, after the deletions and before QUIT.
  ASSERT_EQ(sync_transcripts.size(), 1u);
  EXPECT_TRUE(Holds(sync_transcripts[0], "C: DELE 50"));
  EXPECT_FALSE(Holds(sync_transcripts[0], "C: QUIT"));
}

TEST_F(RetrievalTest, KeepModeSearchesEachMessageOnceAgainstALongList) {
  // 10,000 listed messages, 10 new ones on top: one search per new
  // message and one for the newest listed one.
  Lines listed;
  for (int n = 0; n < 10000; ++n) listed.push_back(ListedLine(KeyOf(n)));
  WriteFile(Path("retrieved.txt"), Joined(listed));
  CurrentRunState().MaxMessages = 20000;
  Pop3Dialogue dialogue;
  dialogue.Login(10010);
  for (int k = 10009; k >= 9999; --k) dialogue.Info(k, NumberedMail(k));
  for (int i = 10000; i < 10010; ++i) {
    dialogue.Info(i, NumberedMail(i)).Retrieve(i, NumberedMail(i));
  }
  dialogue.Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(stored.size(), 10u);
  EXPECT_EQ(stored.front().subject, "Message 10000");
  EXPECT_EQ(driver.KeySearches(), 11);
}

TEST_F(RetrievalTest, StoredFilesAreFlushedOnlyWhereTheyCanBe) {
  WriteFile(Path("retrieved.txt"), "line\r\n");
  EXPECT_TRUE(MakeStoredFilesDurable(Path("retrieved.txt")));
  // A list that was never written has nothing to flush.
  EXPECT_TRUE(MakeStoredFilesDurable(Path("absent.txt")));
  SetDataDirectory(Path("gone"));
  EXPECT_FALSE(MakeStoredFilesDurable(Path("retrieved.txt")));
  SetDataDirectory(directory_);
}

TEST_F(RetrievalTest, DuplicateSearchMatchesOnlyAWholeKeyAtTheStartOfALine) {
  RunState& run = CurrentRunState();
  WriteFile(run.RetrievedName,
            Joined({"<a@x>Mon, 1 Dec 2026|01/12/26", "<b@x>|01/12/26",
                    "|01/12/26", "<c|d@x>Tue|02/12/26"}));
  driver.LoadRetrievedList();
  EXPECT_TRUE(driver.IsAlreadyRetrieved("<a@x>Mon, 1 Dec 2026"));
  EXPECT_TRUE(driver.IsAlreadyRetrieved("<b@x>"));
  EXPECT_TRUE(driver.IsAlreadyRetrieved("<c|d@x>Tue"));
  // Parts of a key, texts inside a line and texts across lines are not
  // keys of the list.
  EXPECT_FALSE(driver.IsAlreadyRetrieved("<a@x>"));
  EXPECT_FALSE(driver.IsAlreadyRetrieved("Mon, 1 Dec 2026"));
  EXPECT_FALSE(driver.IsAlreadyRetrieved("a@x>Mon, 1 Dec 2026"));
  EXPECT_FALSE(driver.IsAlreadyRetrieved("01/12/26\r\n<b@x>"));
  EXPECT_FALSE(driver.IsAlreadyRetrieved("<b@x>|01/12/26"));
  // An empty key is never found, not even against a line with no key.
  EXPECT_FALSE(driver.IsAlreadyRetrieved(""));
}

TEST_F(RetrievalTest, MessageWithoutMessageIdAndDateIsNeverTakenAsFetched) {
  // An earlier run listed such a message under the empty key; the server
  // has no unique ids.
  WriteFile(Path("retrieved.txt"), Joined({ListedLine("")}));
  const std::string bare = MailText("Bare", "", "");
  Pop3Dialogue dialogue;
  dialogue.Login(1)
      .Info(0, bare)
      .NoUidl(0)
      .Info(0, bare)
      .Retrieve(0, bare)
      .Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(Subjects(), (Lines{"Bare"}));
  EXPECT_EQ(stored[0].message_id, "");
  EXPECT_EQ(ReadFile(Path("retrieved.txt")),
            Joined({ListedLine(""), ListedLine("")}));
}

TEST_F(RetrievalTest, MessagesWithoutMessageIdAreTellApartByTheirUniqueIds) {
  // Two messages without Message-ID and with the same Date; the older was
  // fetched by an earlier run. The newer must be fetched, the older not.
  const std::string date = "Mon, 7 Dec 2026 09:00:00 +0000";
  const std::string older = MailText("Older", "", date);
  const std::string newer = MailText("Newer", "", date);
  WriteFile(Path("retrieved.txt"), Joined({ListedLine("UIDL:uid-a" + date)}));
  Pop3Dialogue dialogue;
  dialogue.Login(2)
      .Info(1, newer)
      .Uidl(1, "uid-b")
      .Info(0, older)
      .Uidl(0, "uid-a")
      .Info(1, newer)
      .Retrieve(1, newer)
      .Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(Subjects(), (Lines{"Newer"}));
  // The run state keeps the real, empty Message-ID.
  EXPECT_EQ(stored[0].message_id, "");
  EXPECT_EQ(ReadFile(Path("retrieved.txt")),
            Joined({ListedLine("UIDL:uid-a" + date),
                    ListedLine("UIDL:uid-b" + date)}));

  // The next run finds the newest message listed and fetches nothing.
  stored.clear();
  Pop3Dialogue again;
  again.Login(2).Info(1, newer).Uidl(1, "uid-b").Quit();
  StartPop3(again);
  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_TRUE(stored.empty());
}

// --- delete mode -------------------------------------------------------------

TEST_F(RetrievalTest, DeleteModeKeepsAMessageThatFailedToDownload) {
  CurrentRunState().DeleteMode = true;
  Pop3Dialogue dialogue;
  dialogue.Login(2)
      .Info(0, NumberedMail(0))
      .RefuseRetrieve(0, NumberedMail(0))
      .Info(1, NumberedMail(1))
      .Retrieve(1, NumberedMail(1))
      .Dele(1)
      .Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(Subjects(), (Lines{"Message 1"}));
  EXPECT_EQ(CommandsBeginning("NowDL:"), (Lines{"NowDL:1/2", "NowDL:2/2"}));
  EXPECT_EQ(view.counter_texts, (Lines{"1 of 2...", "2 of 2..."}));
  // Delete mode keeps no list.
  EXPECT_FALSE(std::filesystem::exists(Path("retrieved.txt")));
  ASSERT_EQ(sync_transcripts.size(), 1u);
  EXPECT_TRUE(Holds(sync_transcripts[0], "C: DELE 2"));
  EXPECT_FALSE(Holds(sync_transcripts[0], "C: QUIT"));
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal}));
}

TEST_F(RetrievalTest, FailedFlushKeepsTheDeletionsFromBecomingFinal) {
  CurrentRunState().DeleteMode = true;
  driver.SyncStoredFiles = [] { return false; };
  Pop3Dialogue dialogue;
  dialogue.Login(1).Info(0, NumberedMail(0)).Retrieve(0, NumberedMail(0)).Dele(0);
  StartPop3(dialogue);

  // The run says so: its messages are stored but still on the server.
  EXPECT_THROW(driver.RunRetrieval(), std::runtime_error);
  EXPECT_EQ(driver.ExitCode(), kExitRunFailed);
  EXPECT_EQ(Finish(), "");
  // No QUIT: the server forgets the deletion when the connection closes.
  EXPECT_FALSE(Holds(server_->Transcript(), "C: QUIT"));
  EXPECT_FALSE(pop.Connected());
}

// --- list mode ---------------------------------------------------------------

TEST_F(RetrievalTest, ListModeFetchesTheListedPositionsInListOrder) {
  RunState& run = CurrentRunState();
  run.ListMode = true;
  run.ListName = Path("list.txt");
  WriteFile(run.ListName, "3\r\nx\r\n-1\r\n0\r\n");
  Pop3Dialogue dialogue;
  dialogue.Login(5)
      .Info(3, NumberedMail(3))
      .Retrieve(3, NumberedMail(3))
      .Info(0, NumberedMail(0))
      .Retrieve(0, NumberedMail(0))
      .Quit();
  StartPop3(dialogue);

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(Subjects(), (Lines{"Message 3", "Message 0"}));
  EXPECT_EQ(view.counter_texts, (Lines{"1 of 4 (5 messages on server)...",
                                       "2 of 4 (5 messages on server)..."}));
  EXPECT_TRUE(CommandsBeginning("NowDL:").empty());
  EXPECT_EQ(ReadFile(Path("retrieved.txt")),
            Joined({ListedLine(KeyOf(3)), ListedLine(KeyOf(0))}));
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitNormal}));
}

TEST_F(RetrievalTest, ListModeWithoutItsListFileFailsTheRun) {
  RunState& run = CurrentRunState();
  run.ListMode = true;
  run.ListName = Path("absent.txt");
  Pop3Dialogue dialogue;
  dialogue.Login(1).Quit();
  StartPop3(dialogue);

  EXPECT_ANY_THROW(driver.RunRetrieval());
  EXPECT_EQ(Finish(), "");
  EXPECT_EQ(talker.commands.back(), "RecvStop:anna@example.org");
  EXPECT_TRUE(exit_codes.empty());
  EXPECT_EQ(driver.ExitCode(), kExitRunFailed);
}

// --- transfer texts ----------------------------------------------------------

TEST_F(RetrievalTest, ProgressShowsTheTransferAndReportsEveryFifthPercent) {
  CurrentRunState().CurrentMessageSize = 4000;
  driver.eMailProgress(-1, 1000);
  EXPECT_EQ(view.transfer_texts.back(), "Transferred 1000 of 4000 bytes...");
  EXPECT_EQ(view.progress, 25);
  EXPECT_EQ(talker.commands, (Lines{"StatDL:25"}));

  driver.eMailProgress(-1, 1100);  // 27: no report
  EXPECT_EQ(view.progress, 27);
  EXPECT_EQ(talker.commands.size(), 1u);

  // Past the expected size the bar keeps its value, and reports it again
  // only when that is a multiple of 5.
  driver.eMailProgress(-1, 5000);
  EXPECT_EQ(view.progress, 27);
  EXPECT_EQ(view.transfer_texts.back(), "Transferred 5000 of 4000 bytes...");
  EXPECT_EQ(talker.commands.size(), 1u);

  CurrentRunState().CurrentMessageSize = 0;
  driver.eMailProgress(-1, 10);
  EXPECT_EQ(view.transfer_texts.back(), "Scanning popbox for new messages...");
  EXPECT_EQ(talker.commands.size(), 1u);
}

TEST_F(RetrievalTest, SavedMessageIsDecodedIntoTheMessageSource) {
  CurrentRunState().CurrentMessageSize = 812;
  TMemoryStream contents;
  const std::string mail = NumberedMail(4) + ".\r\n";
  contents.Write(mail.data(), mail.size());
  driver.eMailUserMessageSave(3, contents);
  EXPECT_EQ(view.transfer_texts.back(), "Transferred 812 of 812 bytes...");
  EXPECT_EQ(view.progress, 100);
  EXPECT_EQ(message.Subject(), "Message 4");
  EXPECT_EQ(message.Headers().GetFieldValue("Message-ID"), MessageIdOf(4));
}

// --- ways out ----------------------------------------------------------------

TEST_F(RetrievalTest, FailedConnectionSendsRecvStopTwiceAndEndsNormally) {
  test::RefusingPort refusing;
  pop.SetServer(refusing.Address());
  view.shown_at_start = false;

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_EQ(talker.commands,
            (Lines{"ShowDL:", "RecvStart:anna@example.org",
                   "RecvStop:anna@example.org", "RecvStop:anna@example.org"}));
  EXPECT_TRUE(stored.empty());
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitConnectionFailed}));
}

TEST_F(RetrievalTest, CancelWhileConnectingEndsEarlyWithOneRecvStop) {
  Pop3Dialogue dialogue;
  dialogue.script.Send("+OK POP3 ready").Expect("USER joe").Silence();
  StartPop3(dialogue);
  pop.OnTrace = [this](const std::string& line) {
    if (line == "C: USER joe") CurrentPump().Post([this] { pop.Cancel(); });
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kEarly);
  EXPECT_EQ(talker.commands,
            (Lines{"RecvStart:anna@example.org", "RecvStop:anna@example.org"}));
  EXPECT_TRUE(exit_codes.empty());
  EXPECT_EQ(driver.ExitCode(), kExitCancelled);
}

TEST_F(RetrievalTest, CancelDuringTheKeepModeSearchEndsEarly) {
  Pop3Dialogue dialogue;
  dialogue.Login(3);
  dialogue.script.Expect("LIST 3").Silence();
  StartPop3(dialogue);
  pop.OnTrace = [this](const std::string& line) {
    if (line == "C: LIST 3") CurrentPump().Post([this] { pop.Cancel(); });
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kEarly);
  EXPECT_TRUE(stored.empty());
  EXPECT_TRUE(exit_codes.empty());
  // The frame's end still ran: one RecvStop.
  EXPECT_EQ(talker.commands,
            (Lines{"RecvStart:anna@example.org", "RecvStop:anna@example.org"}));
}

TEST_F(RetrievalTest, CancelDuringADeleteModeDownloadStopsTheLoopAndEndsNormally) {
  CurrentRunState().DeleteMode = true;
  Pop3Dialogue dialogue;
  dialogue.Login(2).Info(0, NumberedMail(0));
  dialogue.script.Expect("LIST 1").Send("+OK 1 300").Expect("RETR 1").Silence();
  StartPop3(dialogue);
  pop.OnTrace = [this](const std::string& line) {
    if (line == "C: RETR 1") CurrentPump().Post([this] { pop.Cancel(); });
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_TRUE(stored.empty());
  EXPECT_EQ(CommandsBeginning("NowDL:"), (Lines{"NowDL:1/2"}));
  // A cancelled run ends the program with its own code.
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitCancelled}));
  EXPECT_TRUE(sync_transcripts.empty());
}

TEST_F(RetrievalTest, SkipDuringAKeepModeDownloadStopsTheLoopWithoutTrimming) {
  // The limit would trim, but the last download did not succeed.
  CurrentRunState().MaxMessages = 1;
  Pop3Dialogue dialogue;
  dialogue.Login(2).Info(1, NumberedMail(1)).Info(0, NumberedMail(0));
  dialogue.Info(0, NumberedMail(0));
  dialogue.script.Expect("LIST 1").Send("+OK 1 300").Expect("RETR 1").Silence();
  StartPop3(dialogue);
  pop.OnTrace = [this](const std::string& line) {
    if (line != "C: RETR 1") return;
    CurrentPump().Post([this] {
      // What Skip! does: the flags, then the client's cancel.
      CurrentRunState().SkipRequested = true;
      CurrentRunState().CancelRequested = false;
      pop.Cancel();
    });
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kNormal);
  EXPECT_TRUE(stored.empty());
  EXPECT_FALSE(std::filesystem::exists(Path("retrieved.txt")));
  EXPECT_FALSE(Holds(server_->Transcript(), "C: DELE 1"));
  EXPECT_EQ(exit_codes, (std::vector<int>{kExitCancelled}));
}

TEST_F(RetrievalTest, CancelWhileListModeReadsHeadersEndsEarly) {
  RunState& run = CurrentRunState();
  run.ListMode = true;
  run.ListName = Path("list.txt");
  WriteFile(run.ListName, "1\r\n0\r\n");
  Pop3Dialogue dialogue;
  dialogue.Login(2);
  dialogue.script.Expect("LIST 2").Silence();
  StartPop3(dialogue);
  pop.OnTrace = [this](const std::string& line) {
    if (line == "C: LIST 2") CurrentPump().Post([this] { pop.Cancel(); });
  };

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kEarly);
  EXPECT_TRUE(stored.empty());
  EXPECT_TRUE(view.counter_texts.empty());
  EXPECT_TRUE(exit_codes.empty());
}

TEST_F(RetrievalTest, CancelPressedBeforeTheRunStartedIsNotLost) {
  test::RefusingPort refusing;
  pop.SetServer(refusing.Address());
  CurrentRunState().CancelRequested = true;

  EXPECT_EQ(driver.RunRetrieval(), RetrievalEnd::kEarly);
  EXPECT_TRUE(talker.commands.empty());
  EXPECT_TRUE(exit_codes.empty());
  EXPECT_EQ(driver.ExitCode(), kExitCancelled);
}

}  // namespace
}  // namespace quillon
