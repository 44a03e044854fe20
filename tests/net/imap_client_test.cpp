// TImap4Client against scripted servers: the exact dialogue of each
// command, literals both ways, the untagged responses and the failures.
#include "net/imap_client.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "platform/poll_pump.h"
#include "tests/support/scripted_server.h"

namespace quillon {
namespace {

using test::Script;
using test::ScriptedServer;

const char kGreeting[] = "S: * OK [CAPABILITY IMAP4rev1 LITERAL+] Fake ready.\n";

// A small message of exactly 310 bytes.
std::string Message310() {
  std::string message =
      "From: Ann <ann@example.org>\r\nTo: bob@example.net\r\nSubject: Three hundred ten\r\n"
      "Date: Tue, 8 Dec 2026 20:00:00 +0000\r\nMessage-ID: <310@example.org>\r\n\r\n";
  while (message.size() < 308) message += "x";
  return message + "\r\n";
}

std::string Escaped(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

class ImapClientTest : public ::testing::Test {
 protected:
  void Start(const std::string& script) {
    server_ = std::make_unique<ScriptedServer>(script);
    client_.SetServer(server_->Address());
    client_.SetUserName("joe");
    client_.SetPassword("secret");
    client_.SetTimeOut(20);
    client_.SetAllMailboxes(&mailboxes_);
    client_.OnRetrieving = [this](TagSocket&, int n) { events_.push_back("Retrieving " + std::to_string(n)); };
    client_.OnRetrieved = [this](TagSocket&, int n) { events_.push_back("Retrieved " + std::to_string(n)); };
    client_.OnMessageArrive = [this](TagSocket&) { events_.push_back("Arrive"); };
    client_.OnMessageAlreadyExist = [this](TagSocket&, bool&) { events_.push_back("AlreadyExist"); };
  }
  void Finish() { EXPECT_EQ(server_->Finish(), ""); }
  std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const std::exception& error) {
      return error.what();
    }
    return "no error";
  }
  TmsImapMessage& MessageAt(int index) {
    return dynamic_cast<TmsImapMessage&>(client_.CurrentMailbox().Items(index));
  }

  TMailboxList mailboxes_;
  TImap4Client client_;
  std::unique_ptr<ScriptedServer> server_;
  std::vector<std::string> events_;
};

TEST_F(ImapClientTest, LoginSendsAtomsAndCountsTags) {
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe secret\nS: A0 OK Logged in\n"
        "C: A1 LOGOUT\nS: * BYE Logging out\nS: A1 OK Logout completed.\nX\n");
  client_.Connect();
  EXPECT_TRUE(client_.Connected());
  EXPECT_FALSE(client_.CommandInProgress());
  client_.Disconnect();
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(client_.TagCounter(), 2);
  Finish();
}

TEST_F(ImapClientTest, PasswordWithBlankIsASynchronisingLiteral) {
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe {7}\nS: + OK\nC: my pass\nS: A0 OK Logged in\n");
  client_.SetPassword("my pass");
  client_.Connect();
  Finish();
}

TEST_F(ImapClientTest, UnexpectedReplyToALiteralIsAnError) {
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe {7}\nS: * OK still here\nS: A0 NO no literals\n");
  client_.SetPassword("my pass");
  EXPECT_EQ(ErrorOf([&] { client_.Connect(); }), "Unexpected server responce \"A0 NO no literals\"");
  EXPECT_FALSE(client_.CommandInProgress());
  Finish();
}

TEST_F(ImapClientTest, NonSynchronisingLiteralOnlyWithLiteralPlus) {
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 LIST \"\" {1}\nS: + go\nC: %\nS: A1 OK\n"
        "C: A2 CAPABILITY\nS: * CAPABILITY IMAP4rev1 LITERAL+ IDLE\nS: A2 OK\n"
        "C: A3 LIST \"\" {1+}\nC: %\nS: * LIST (\\HasNoChildren) \"/\" INBOX\nS: A3 OK\n");
  client_.SetNonSyncLiterals(true);
  client_.Connect();
  client_.List("", "%");  // no LITERAL+ seen yet: waits for "+"
  EXPECT_EQ(client_.Capability(), "IMAP4rev1 LITERAL+ IDLE");
  EXPECT_TRUE(client_.LiteralPlus());
  client_.List("", "%");
  Finish();
  TMailBox* inbox = mailboxes_.Find("INBOX");
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(inbox->Delimiter(), "/");
  EXPECT_FALSE(inbox->LocalStored());
}

TEST_F(ImapClientTest, GreetingByeRefusesAndPreauthSkipsLogin) {
  Start("S: * BYE Too many connections\nX\n");
  EXPECT_EQ(ErrorOf([&] { client_.Connect(); }), "IMAP Server refuses connection");
  Finish();
  client_.Close();
  Start("S: * PREAUTH ready\nC: A0 CAPABILITY\nS: * CAPABILITY IMAP4rev1\nS: A0 OK\n");
  client_.Connect();
  EXPECT_EQ(client_.Capability(), "IMAP4rev1");
  Finish();
}

TEST_F(ImapClientTest, SelectInboxFillsCountsAndMailbox) {
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 SELECT inbox\n"
        "S: * FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft $Forwarded)\n"
        "S: * OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Flags permitted.\n"
        "S: * 3 EXISTS\nS: * 1 RECENT\nS: * OK [UNSEEN 2] First unseen.\n"
        "S: * OK [UIDVALIDITY 1765219234] UIDs valid\nS: * OK [UIDNEXT 4] Predicted\n"
        "S: A1 OK [READ-WRITE] Select completed.\n"
        "C: A2 EXAMINE Trash\nS: A2 NO Mailbox doesn't exist: Trash\n");
  client_.SetOpenAsReadOnly(false);
  client_.Connect();
  client_.SetMailBox("inbox");
  EXPECT_EQ(client_.MailBox(), "INBOX");
  EXPECT_EQ(client_.ExistsCount(), 3);
  EXPECT_EQ(client_.RecentCount(), 1);
  EXPECT_EQ(client_.FlagList(), "\\Answered \\Flagged \\Deleted \\Seen \\Draft $Forwarded");
  using F = TMessageFlag;
  EXPECT_EQ(client_.AllowedFlagSet(),
            (TMessageFlagSet{F::mesAnswered, F::mesFlagged, F::mesDeleted, F::mesSeen, F::mesDraft}));
  TMailBox& inbox = client_.CurrentMailbox();
  EXPECT_EQ(inbox.Flags(), "(\\Answered \\Flagged \\Deleted \\Seen \\Draft $Forwarded)");
  EXPECT_EQ(inbox.UIDValidity(), 1765219234);
  EXPECT_EQ(inbox.FirstUnseen(), 2);
  EXPECT_FALSE(inbox.LocalStored());

  client_.SetOpenAsReadOnly(true);
  EXPECT_EQ(ErrorOf([&] { client_.SetMailBox("Trash"); }),
            "NO response : NO Mailbox doesn't exist: Trash");
  EXPECT_EQ(client_.MailBox(), "INBOX");
  EXPECT_EQ(client_.ResponseStatus(), TResponseStatus::rsNO);
  Finish();
}

TEST_F(ImapClientTest, FetchWithFlagsAndLiteralCreatesTheMessage) {
  const std::string message = Message310();
  ASSERT_EQ(message.size(), 310u);
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 FETCH 12 (FLAGS RFC822)\n"
        "R: * 12 FETCH (FLAGS (\\\\Seen) RFC822 {310}\\r\\n" + Escaped(message) + ")\\r\\n\n"
        "S: A1 OK Fetch completed.\n");
  client_.SetMailBox("INBOX");
  client_.Connect();
  client_.Fetch("12", "(FLAGS RFC822)");
  // FLAGS made the message, so the content finds it already there.
  EXPECT_EQ(events_, (std::vector<std::string>{"Retrieving 12", "AlreadyExist", "Arrive",
                                               "Retrieved 12"}));
  ASSERT_EQ(client_.CurrentMailbox().Count(), 1);
  TmsImapMessage& fetched = MessageAt(0);
  EXPECT_EQ(fetched.MsgNo(), 12);
  EXPECT_EQ(fetched.ServerFlags(), TMessageFlagSet{TMessageFlag::mesSeen});
  EXPECT_EQ(fetched.Subject(), "Three hundred ten");
  EXPECT_EQ(fetched.Sender().Address(), "ann@example.org");
  EXPECT_EQ(fetched.Recipients().Count(), 1);
  EXPECT_EQ(fetched.OriginalMailbox(), "INBOX");
  EXPECT_EQ(fetched.State(), TImapMessageState::kInStep);
  Finish();
}

TEST_F(ImapClientTest, LiteralSplitIntoSingleBytesReadsTheSame) {
  const std::string message = Message310();
  Start(std::string(kGreeting) +
        "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 FETCH 1:* (RFC822 ENVELOPE)\n"
        "B: * 1 FETCH (RFC822 {310}\\r\\n" + Escaped(message) +
        " ENVELOPE (\"Tue, 8 Dec 2026 20:00:00 +0000\" \"=?ISO-8859-1?Q?Gr=FC=DFe?=\" "
        "((\"Ann\" NIL \"ann\" \"example.org\")) NIL NIL ((NIL NIL \"bob\" \"example.net\")) "
        "NIL NIL NIL \"<310@example.org>\"))\\r\\n\n"
        "S: A1 OK\n");
  client_.SetMailBox("INBOX");
  client_.Connect();
  client_.Fetch("1:*", "(RFC822 ENVELOPE)");
  TmsImapMessage& fetched = MessageAt(0);
  EXPECT_EQ(fetched.Subject(), "Gr\xFC\xDF" "e");
  EXPECT_EQ(fetched.InternalDate(), "Tue, 8 Dec 2026 20:00:00 +0000");
  ASSERT_EQ(fetched.Recipients().Count(), 1);  // not twice
  EXPECT_EQ(fetched.Recipients().Items(0).Address(), "bob@example.net");
  EXPECT_EQ(events_, (std::vector<std::string>{"Retrieving 1", "Arrive", "Retrieved 1"}));
  Finish();
}

TEST_F(ImapClientTest, FetchAllDeletesOnlyWhatItDelivered) {
  std::string script = std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
                       "C: A1 FETCH 1:* (FLAGS RFC822)\n";
  for (int n : {1, 2, 4}) {
    script += "R: * " + std::to_string(n) + " FETCH (FLAGS () RFC822 {310}\\r\\n" +
              Escaped(Message310()) + ")\\r\\n\n";
  }
  // Message 3 only reports a flag change; message 5 arrives meanwhile.
  script += "S: * 3 FETCH (FLAGS (\\Seen))\nS: * 5 EXISTS\nS: A1 OK\n"
            "C: A2 STORE 1:2,4 +FLAGS (\\Deleted)\nS: A2 OK\n";
  Start(script);
  client_.SetMailBox("INBOX");
  client_.Connect();
  client_.FetchAll(false, "(FLAGS RFC822)");
  EXPECT_EQ(client_.DeliveredNumbers(), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(client_.ExistsCount(), 5);
  Finish();
}

TEST_F(ImapClientTest, FetchAllKeepingSendsNoStoreAndEmptyMailboxSendsNothing) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 SELECT INBOX\nS: * 0 EXISTS\nS: A1 OK\n"
        "C: A2 LOGOUT\nS: * BYE\nS: A2 OK\n");
  client_.SetOpenAsReadOnly(false);
  client_.Connect();
  client_.SetMailBox("INBOX");
  client_.FetchAll(false, "(FLAGS INTERNALDATE RFC822 ENVELOPE)");
  client_.Disconnect();
  Finish();
}

TEST_F(ImapClientTest, ExpungeAndDeleteDialogue) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 STORE 1:* +FLAGS (\\Deleted)\nS: * 1 FETCH (FLAGS (\\Deleted))\nS: A1 OK\n"
        "C: A2 EXPUNGE\nS: * 1 EXPUNGE\nS: A2 OK\n");
  client_.SetMailBox("INBOX");
  client_.Connect();
  client_.Delete("1:*");
  client_.Expunge();
  EXPECT_EQ(MessageAt(0).State(), TImapMessageState::kExpunged);
  EXPECT_EQ(MessageAt(0).MsgNo(), 0);
  Finish();
}

TEST_F(ImapClientTest, TaggedBadAndValidateHandler) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 EXPUNGE\nS: A1 BAD Error in IMAP command\n"
        "C: A2 EXPUNGE\nS: A2 NO [READ-ONLY] no\n"
        "C: A3 EXPUNGE\nS: A3 WHAT is this\n");
  client_.Connect();
  EXPECT_EQ(ErrorOf([&] { client_.Expunge(); }), "BAD response : BAD Error in IMAP command");
  std::vector<std::string> validated;
  client_.OnValidate = [&](TagSocket&, const std::string& text, TResponseStatus& status) {
    validated.push_back(text);
    if (status == TResponseStatus::rsNO) status = TResponseStatus::rsOK;
  };
  EXPECT_EQ(ErrorOf([&] { client_.Expunge(); }), "no error");
  EXPECT_EQ(ErrorOf([&] { client_.Expunge(); }), "BAD response : WHAT is this");
  EXPECT_EQ(validated, (std::vector<std::string>{"NO [READ-ONLY] no", "WHAT is this"}));
  Finish();
}

TEST_F(ImapClientTest, SecondCommandInsideAWaitIsRefused) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 NOOP\nS: * 2 EXISTS\nS: A1 OK\n");
  client_.Connect();
  std::string nested_error;
  int conflicts = 0;
  client_.OnInProgressConflict = [&](TCustomImap&, bool& retry) {
    ++conflicts;
    retry = conflicts < 3;  // asks again twice, then gives up
  };
  client_.OnResponse = [&](TagSocket&, const std::string&) {
    nested_error = ErrorOf([&] { client_.Expunge(); });
  };
  client_.GetResponse(client_.SendTagged("NOOP"));
  EXPECT_EQ(nested_error, "IMAP4 command in progress");
  EXPECT_EQ(conflicts, 3);
  EXPECT_FALSE(client_.CommandInProgress());
  EXPECT_EQ(ErrorOf([&] { client_.GetResponse(""); }), "GetResponse : \"tag\" is empty");
  Finish();
}

TEST_F(ImapClientTest, AlertByeAndListEvents) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 LSUB \"\" {1}\nS: + ok\nC: %\nS: * LSUB () \".\" Work\nS: A1 OK\n"
        "C: A2 LIST \"\" {1}\nS: + ok\nC: %\nS: * LIST (\\Noselect) \".\" Work\n"
        "S: * LIST (\\HasNoChildren) \".\" \"Sent Items\"\nS: * OK [ALERT] Disk almost full\n"
        "S: A2 OK\n"
        "C: A3 NOOP\nS: * BYE Server shutting down\nX\n");
  std::vector<std::string> listed;
  std::vector<std::string> alerts;
  int byes = 0;
  client_.OnListMailboxes = [&](TagSocket&, const std::string& name) { listed.push_back(name); };
  client_.OnAlert = [&](TagSocket&, const std::string& text) { alerts.push_back(text); };
  client_.OnServerSayBye = [&](TagSocket&) { ++byes; };
  client_.Connect();
  client_.Lsub("", "%");
  client_.List("", "%");
  EXPECT_EQ(listed, (std::vector<std::string>{"Work", "Sent Items"}));
  EXPECT_EQ(alerts, std::vector<std::string>{"Disk almost full"});
  TMailBox* work = mailboxes_.Find("Work");
  ASSERT_NE(work, nullptr);
  EXPECT_TRUE(work->Subscribed());
  EXPECT_EQ(work->Options(), TMailBoxFlag{TMailBoxOption::Noselect});
  EXPECT_EQ(work->Delimiter(), ".");
  EXPECT_EQ(mailboxes_.Find("Sent Items")->Flags(), "(\\HasNoChildren)");
  // The server says BYE and closes in the middle of a command.
  EXPECT_THROW(client_.GetResponse(client_.SendTagged("NOOP")), ESocketError);
  EXPECT_EQ(byes, 1);
  EXPECT_FALSE(client_.CommandInProgress());
  Finish();
}

TEST_F(ImapClientTest, HugeLiteralIsRefusedAndTheConnectionClosed) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 FETCH 1 (RFC822)\nS: * 1 FETCH (RFC822 {4294967296}\nH\n");
  client_.SetMailBox("INBOX");
  client_.Connect();
  EXPECT_EQ(ErrorOf([&] { client_.Fetch("1", "(RFC822)"); }),
            "The server announced a literal of more than 1073741824 bytes; no message is that large");
  EXPECT_FALSE(client_.Connected());
  EXPECT_EQ(client_.CurrentMailbox().Count(), 0);
  Finish();
}

TEST_F(ImapClientTest, EndlessLineIsRefused) {
  std::string script = std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
                       "C: A1 NOOP\n";
  // One write: the client may close as soon as it has seen 1000 bytes, and
  // a server still writing then would fail the script instead of the test.
  script += "R: " + std::string(2000, 'a') + "\n";
  script += "H\n";
  Start(script);
  ImapReadLimits limits;
  limits.max_line_length = 1000;
  client_.SetReadLimits(limits);
  client_.Connect();
  EXPECT_EQ(ErrorOf([&] { client_.GetResponse(client_.SendTagged("NOOP")); }),
            "Response line longer than 1000 bytes");
  EXPECT_FALSE(client_.Connected());
  Finish();
}

TEST_F(ImapClientTest, ServerClosingInsideALiteralIsAnError) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
        "C: A1 FETCH 1 (RFC822)\nR: * 1 FETCH (RFC822 {310}\\r\\nFrom: x\nX\n");
  client_.SetMailBox("INBOX");
  client_.Connect();
  EXPECT_EQ(ErrorOf([&] { client_.Fetch("1", "(RFC822)"); }), "[10054] Connection reset by peer");
  EXPECT_EQ(events_, std::vector<std::string>{});
  Finish();
}

TEST_F(ImapClientTest, CommandsAreSentThroughTheProgressEvent) {
  Start(std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n");
  std::vector<std::pair<int, int>> progress;
  client_.OnProgress = [&](TagSocket&, int perc, int transferred) {
    progress.emplace_back(perc, transferred);
  };
  client_.Connect();
  const int length = static_cast<int>(std::string("A0 LOGIN joe secret\r\n").size());
  EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{100, length}, {0, 0}}));
  Finish();
}

// A poll pump whose repeating timers a test can also tick by hand, standing
// in for seconds that pass while a handler works.
class HandTickedPump : public MessagePump {
 public:
  TimerId AddTimer(std::chrono::milliseconds interval, bool repeating,
                   Callback callback) override {
    const TimerId id = inner_.AddTimer(interval, repeating, callback);
    timers_[id] = std::move(callback);
    return id;
  }
  void RemoveTimer(TimerId timer) override {
    timers_.erase(timer);
    inner_.RemoveTimer(timer);
  }
  WatchId AddWatch(int fd, unsigned events, std::function<void(unsigned)> callback) override {
    return inner_.AddWatch(fd, events, std::move(callback));
  }
  void SetWatchEvents(WatchId watch, unsigned events) override {
    inner_.SetWatchEvents(watch, events);
  }
  void RemoveWatch(WatchId watch) override { inner_.RemoveWatch(watch); }
  void Post(Callback callback) override { inner_.Post(std::move(callback)); }
  void DispatchPending() override { inner_.DispatchPending(); }
  void WaitForEvents(Clock::time_point deadline) override { inner_.WaitForEvents(deadline); }
  int Run() override { return inner_.Run(); }
  void Quit(int exit_code) override { inner_.Quit(exit_code); }

  void TickAll(int times) {
    for (int i = 0; i < times; ++i) {
      const std::map<TimerId, Callback> timers = timers_;
      for (const auto& [id, callback] : timers) callback();
    }
  }

 private:
  PollPump inner_;
  std::map<TimerId, Callback> timers_;
};

TEST(ImapClientClock, TimeSpentInAHandlerDoesNotTimeOutTheNextLine) {
  HandTickedPump pump;
  InstallPump(&pump);
  struct Uninstall {
    ~Uninstall() { InstallPump(nullptr); }
  } uninstall;
  std::string script = std::string(kGreeting) + "C: A0 LOGIN joe secret\nS: A0 OK\n"
                       "C: A1 FETCH 1:2 (RFC822)\n";
  for (int n : {1, 2}) {
    script += "R: * " + std::to_string(n) + " FETCH (RFC822 {310}\\r\\n" +
              Escaped(Message310()) + ")\\r\\n\n";
  }
  script += "S: A1 OK\n";
  ScriptedServer server(script);
  TImap4Client client;
  client.SetServer(server.Address());
  client.SetUserName("joe");
  client.SetPassword("secret");
  client.SetTimeOut(5);
  client.SetMailBox("INBOX");
  int retrieved = 0;
  client.OnRetrieved = [&](TagSocket&, int) {
    ++retrieved;
    pump.TickAll(10);  // ten seconds go by while the message is stored
  };
  client.Connect();
  client.Fetch("1:2", "(RFC822)");
  EXPECT_EQ(retrieved, 2);
  EXPECT_EQ(server.Finish(), "");
  client.Close();
}

TEST(ImapUntagged, ExpungeRenumbersMessagesOfTheSelectedMailbox) {
  TImap4Client client;
  TMailboxList list;
  client.SetAllMailboxes(&list);
  client.SetMailBox("INBOX");  // not connected: only stored
  for (int n = 1; n <= 5; ++n) {
    client.HandleUntagged(std::to_string(n) + " FETCH (UID " + std::to_string(100 + n) + ")");
  }
  TmsImapMessage& copy = TmsImapMessage::Create(client.CurrentMailbox());
  copy.SetMsgNo(4);
  copy.SetState(TImapMessageState::kLocalCopy);
  client.HandleUntagged("5 EXISTS");
  client.HandleUntagged("3 EXPUNGE");
  std::vector<int> numbers;
  TMailBox& inbox = client.CurrentMailbox();
  for (int i = 0; i < inbox.Count(); ++i) {
    numbers.push_back(dynamic_cast<TmsImapMessage&>(inbox.Items(i)).MsgNo());
  }
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 0, 3, 4, 4}));
  EXPECT_EQ(client.ExistsCount(), 4);
  EXPECT_EQ(dynamic_cast<TmsImapMessage&>(inbox.Items(2)).State(), TImapMessageState::kExpunged);
}

TEST(ImapUntagged, DeclinedOverwriteLeavesTheMessageAndReportsNothing) {
  TImap4Client client;
  client.SetMailBox("INBOX");
  std::vector<std::string> events;
  client.OnMessageAlreadyExist = [&](TagSocket&, bool& overwrite) {
    events.push_back("AlreadyExist");
    overwrite = false;
  };
  client.OnRetrieved = [&](TagSocket&, int n) { events.push_back("Retrieved " + std::to_string(n)); };
  const std::string content = "Subject: new\r\n\r\nbody\r\n";
  client.HandleUntagged("1 FETCH (FLAGS (\\Seen) RFC822 {" + std::to_string(content.size()) +
                        "}" + content + ")");
  EXPECT_EQ(events, std::vector<std::string>{"AlreadyExist"});
  ASSERT_EQ(client.CurrentMailbox().Count(), 1);
  EXPECT_EQ(client.CurrentMailbox().Items(0).Subject(), "");
  // Without a handler the content is loaded over the existing message.
  client.OnMessageAlreadyExist = nullptr;
  client.HandleUntagged("1 FETCH (RFC822 {" + std::to_string(content.size()) + "}" + content + ")");
  EXPECT_EQ(client.CurrentMailbox().Items(0).Subject(), "new");
  EXPECT_EQ(events, (std::vector<std::string>{"AlreadyExist", "Retrieved 1"}));
}

TEST(ImapUntagged, EnvelopeBeforeContentLeavesNoDoubleRecipients) {
  TImap4Client client;
  client.SetMailBox("INBOX");
  const std::string content =
      "From: ann@example.org\r\nTo: bob@example.net, carl@example.net\r\nSubject: s\r\n\r\nb\r\n";
  client.HandleUntagged(
      "1 FETCH (ENVELOPE (NIL \"s\" ((NIL NIL \"ann\" \"example.org\")) NIL NIL ((NIL NIL \"bob\" "
      "\"example.net\")(NIL NIL \"carl\" \"example.net\")) NIL NIL NIL NIL) RFC822 {" +
      std::to_string(content.size()) + "}" + content + ")");
  auto& message = dynamic_cast<TmsImapMessage&>(client.CurrentMailbox().Items(0));
  ASSERT_EQ(message.Recipients().Count(), 2);
  EXPECT_EQ(message.Recipients().Items(1).Address(), "carl@example.net");
}

TEST(ImapUntagged, KeywordsAndServerAttributesDoNotFailTheRun) {
  TImap4Client client;
  client.SetMailBox("INBOX");
  EXPECT_NO_THROW(client.HandleUntagged("FLAGS (\\Seen $Junk)"));
  EXPECT_EQ(client.AllowedFlagSet(), TMessageFlagSet{TMessageFlag::mesSeen});
  EXPECT_NO_THROW(client.HandleUntagged("1 FETCH (FLAGS (\\Seen $Junk))"));
  EXPECT_EQ(client.CurrentMailbox().Count(), 1);
  EXPECT_THROW(client.HandleUntagged("2 FETCH (FLAGS (\\Seen \\Junk))"), EImapError);
  EXPECT_NO_THROW(client.HandleUntagged("LSUB (\\HasNoChildren) \"/\" INBOX"));
  EXPECT_NO_THROW(client.HandleUntagged("LIST (\\HasNoChildren) \"/\" INBOX"));
}

TEST(ImapUntagged, NoCurrentMailbox) {
  TImap4Client client;
  try {
    client.CurrentMailbox();
    FAIL();
  } catch (const EImapError& error) {
    EXPECT_STREQ(error.what(), "No current mailbox selected");
  }
}

TEST(ImapUntagged, AllMailboxesFollowServerAndUser) {
  TImap4Client client;
  client.SetServer("imap.example.org");
  client.SetUserName("ann");
  TMailboxList list;
  list.SetOfficeLocation("other.example.org");
  list.CreateMailbox("Old");
  client.SetAllMailboxes(&list);
  EXPECT_EQ(list.Count(), 0);  // another account's mailboxes are dropped
  EXPECT_EQ(list.OfficeLocation(), "imap.example.org");
  list.CreateMailbox("INBOX");
  client.SetUserName("bob");
  EXPECT_EQ(list.UserName(), "bob");
  EXPECT_EQ(list.Count(), 1);
  TImap4Client own;
  ASSERT_NE(own.GetAllMailboxes(), nullptr);
  EXPECT_EQ(own.GetAllMailboxes(), own.GetAllMailboxes());
}

}  // namespace
}  // namespace quillon
