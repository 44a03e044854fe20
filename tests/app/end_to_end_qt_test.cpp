// The program's main job from outside: build/bin/quillon started the way the
// main application starts it, against a private Dovecot (POP3 delete, keep
// and list modes, IMAP4), with a listener in the main application's place
// on a private session bus. Each test checks what the run left: the store
// files, the retrieved-list file, the server's mailbox, the commands the
// listener received, the exit status and the deleted parameter file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/end_to_end_store_watch.h"
#include "tests/app/end_to_end_support.h"
#include "tests/app/talker_test_support.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_certificates.h"

namespace quillon {
namespace {

using test::AccountSetup;
using test::DovecotServer;
using test::ListenerPokes;
using test::ListenerThread;
using test::MakeTestMail;
using test::ProgramEnd;
using test::ProgramRunner;
using test::ReadListLines;
using test::ReadStoredMessages;
using test::ReceivedPoke;
using test::RunParameters;
using test::SmtpSink;
using test::StoredMessage;
using test::TestMail;
namespace fs = std::filesystem;

constexpr char kUser[] = "anna";
constexpr char kPassword[] = "anna-secret";
constexpr char kAddress[] = "anna@quillon.test";
constexpr int kIncomingFolder = 10;

// The commands of a run without the transfer reports, whose number depends
// on how the data arrived; those are checked apart: each is "StatDL:" + a
// multiple of 5 within 0..100 and comes between the start and the stop
// of the run (also while a POP3 client reads header lines, then with the
// size of the message before).
struct TalkerTrace {
  std::vector<std::string> commands;  // in order, NUL removed, no "StatDL:"
  int transfer_reports = 0;
  std::vector<std::string> failures;
};

TalkerTrace ReadTrace(const std::vector<ReceivedPoke>& pokes) {
  TalkerTrace trace;
  bool running = false;
  for (const ReceivedPoke& poke : pokes) {
    if (poke.item != "TalkerCalls" || poke.data.empty() || poke.data.back() != '\0') {
      trace.failures.push_back("poke not to TalkerCalls or without its NUL: " +
                               ShowCommandBytes(poke.data));
      continue;
    }
    const std::string command = poke.data.substr(0, poke.data.size() - 1);
    if (command.rfind("RecvStart:", 0) == 0) running = true;
    if (command.rfind("RecvStop:", 0) == 0) running = false;
    if (command.rfind("StatDL:", 0) != 0) {
      trace.commands.push_back(command);
      continue;
    }
    ++trace.transfer_reports;
    const std::string value = command.substr(7);
    const bool number = !value.empty() && value.find_first_not_of("0123456789") ==
                                              std::string::npos;
    const int percent = number ? std::stoi(value) : -1;
    if (!running || percent < 0 || percent > 100 || percent % 5 != 0) {
      trace.failures.push_back("unexpected " + command);
    }
  }
  return trace;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not installed";
    ASSERT_TRUE(fs::exists(ProgramRunner::Program()))
        << ProgramRunner::Program() << " is missing: build the quillon target";
    dovecot_ = std::make_unique<DovecotServer>(
        std::vector<DovecotServer::User>{{kUser, kPassword}});
    listener_ = std::make_unique<ListenerThread>(TalkerListenerOptions{});
    ASSERT_TRUE(listener_->Started()) << listener_->Error();
  }
  void TearDown() override {
    listener_.reset();
    dovecot_.reset();
  }

  TestMail Deliver(int number) {
    TestMail mail = MakeTestMail(number, kAddress);
    dovecot_->Deliver(kUser, mail.raw);
    return mail;
  }

  AccountSetup Pop3Account() const { return {}; }
  AccountSetup ImapAccount() const {
    AccountSetup setup;
    setup.imap = true;
    setup.imap_host = dovecot_->ImapAddress();
    setup.imap_user = kUser;
    setup.imap_password = kPassword;
    return setup;
  }
  RunParameters Pop3Parameters() const {
    RunParameters parameters;
    // The port goes with the host: "Port" is only the client's fallback
    // when the services database has no "pop3" entry.
    parameters.host = dovecot_->Pop3Address();
    parameters.port = dovecot_->Pop3Port();
    parameters.user = kUser;
    parameters.password = kPassword;
    parameters.retrieved_name = runner_.Directory() + "/retrieved.lst";
    return parameters;
  }

  // Runs the program on a fresh parameter file; checks that it ended by
  // itself and deleted the parameter file. Returns its exit status.
  int RunProgram(const RunParameters& parameters) {
    const std::string parameter_file = runner_.WriteParameters(parameters);
    const ProgramEnd end = runner_.Run({parameter_file});
    EXPECT_TRUE(end.exited) << end.output;
    EXPECT_FALSE(fs::exists(parameter_file));
    return end.exit_code;
  }

  // The commands received since the last call.
  std::vector<std::string> TakeCommands() {
    const std::vector<ReceivedPoke> pokes = ListenerPokes(listener_->UniqueName());
    const std::size_t seen = std::min(seen_pokes_, pokes.size());
    const std::vector<ReceivedPoke> fresh(pokes.begin() + static_cast<long>(seen),
                                          pokes.end());
    seen_pokes_ = pokes.size();
    const TalkerTrace trace = ReadTrace(fresh);
    EXPECT_TRUE(trace.failures.empty()) << ::testing::PrintToString(trace.failures);
    transfer_reports_ = trace.transfer_reports;
    return trace.commands;
  }

  static std::string MessNew(int record, int count) {
    return "MessNew:" + std::to_string(kIncomingFolder) + "|" + std::to_string(record) +
           "|" + std::to_string(count);
  }

  // A stored message is complete: index record of this account and user in
  // the incoming folder, message file holding the message, recipients file.
  static void ExpectStored(const StoredMessage& stored, const TestMail& mail) {
    SCOPED_TRACE("record " + std::to_string(stored.record_number));
    EXPECT_EQ(stored.record.AccountId, 3);
    EXPECT_EQ(stored.record.UserId, 1);
    EXPECT_EQ(stored.record.FolderId, kIncomingFolder);
    EXPECT_EQ(stored.record.ColourCode, 1);
    EXPECT_EQ(stored.record.Subject, "Test message " + std::to_string(mail.number));
    EXPECT_EQ(stored.record.MessageFileName,
              "In\\M" + std::to_string(stored.record.MessageNumber) + "!A3!U1!.eml");
    EXPECT_EQ(stored.record.RecipientsFileName,
              "In\\M" + std::to_string(stored.record.MessageNumber) + "!A3!U1!.rcv");
    ASSERT_TRUE(stored.message_file_exists);
    EXPECT_NE(stored.message_text.find(mail.body_marker), std::string::npos);
    EXPECT_NE(stored.message_text.find("Test message " + std::to_string(mail.number)),
              std::string::npos);
    ASSERT_TRUE(stored.recipients_file_exists);
    EXPECT_NE(stored.recipients_text.find(kAddress), std::string::npos)
        << stored.recipients_text;
  }

  // A POP3 retrieved-list line: Message-ID + Date + "|" + a date.
  static void ExpectPop3ListLine(const std::string& line, const TestMail& mail) {
    const std::string key = mail.message_id + mail.date + "|";
    EXPECT_EQ(line.rfind(key, 0), 0u) << line;
    EXPECT_GT(line.size(), key.size()) << line;
  }

  ProgramRunner runner_;
  std::unique_ptr<DovecotServer> dovecot_;
  std::unique_ptr<ListenerThread> listener_;
  std::size_t seen_pokes_ = 0;
  int transfer_reports_ = 0;  // "StatDL:" commands seen by the last TakeCommands
};

TEST_F(EndToEndTest, Pop3DeleteModeStoresEveryMessageAndEmptiesTheMailbox) {
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  const std::vector<TestMail> mails = {Deliver(1), Deliver(2), Deliver(3)};
  RunParameters parameters = Pop3Parameters();
  parameters.delete_messages = true;

  EXPECT_EQ(RunProgram(parameters), 0);

  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 3u);
  for (std::size_t i = 0; i < stored.size(); ++i) ExpectStored(stored[i], mails[i]);
  EXPECT_GT(stored[0].record.MessageSize, 0);
  EXPECT_EQ(test::FilesInStore(runner_.DataDirectory(), ".eml").size(), 3u);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 0);
  // Delete mode keeps no retrieved list.
  EXPECT_FALSE(fs::exists(parameters.retrieved_name));
  const std::vector<std::string> expected = {
      "ShowDL:",  "RecvStart:anna@quillon.test",
      "NowDL:1/3", MessNew(1, 1),
      "NowDL:2/3", MessNew(2, 2),
      "NowDL:3/3", MessNew(3, 3),
      "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
  // At least the start of each transfer is reported.
  EXPECT_GE(transfer_reports_, 3);
}

TEST_F(EndToEndTest, Pop3KeepModeFetchesOnlyWhatIsNewAndTrimsToTheLimit) {
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  std::vector<TestMail> mails = {Deliver(1), Deliver(2)};
  RunParameters parameters = Pop3Parameters();

  EXPECT_EQ(RunProgram(parameters), 0);
  ASSERT_EQ(ReadStoredMessages(runner_.DataDirectory()).size(), 2u);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 2);
  std::vector<std::string> lines = ReadListLines(parameters.retrieved_name);
  ASSERT_EQ(lines.size(), 2u);
  ExpectPop3ListLine(lines[0], mails[0]);
  ExpectPop3ListLine(lines[1], mails[1]);
  std::vector<std::string> expected = {
      "ShowDL:",  "RecvStart:anna@quillon.test", "NowDL:1/2", MessNew(1, 1),
      "NowDL:2/2", MessNew(2, 2), "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);

  // A new message arrives; the second run fetches it alone and, with room
  // for two messages on the server, deletes the oldest and its list line.
  mails.push_back(Deliver(3));
  parameters.max_messages = 2;
  EXPECT_EQ(RunProgram(parameters), 0);
  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 3u);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    ExpectStored(stored[i], mails[i]);
    EXPECT_EQ(stored[i].record.MessageIdText, mails[i].message_id);
  }
  EXPECT_EQ(dovecot_->CountMessages(kUser), 2);
  lines = ReadListLines(parameters.retrieved_name);
  ASSERT_EQ(lines.size(), 2u);
  ExpectPop3ListLine(lines[0], mails[1]);
  ExpectPop3ListLine(lines[1], mails[2]);
  expected = {"ShowDL:", "RecvStart:anna@quillon.test", "NowDL:1/1", MessNew(3, 1),
              "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);

  // Nothing new: nothing fetched, nothing deleted.
  EXPECT_EQ(RunProgram(parameters), 0);
  EXPECT_EQ(ReadStoredMessages(runner_.DataDirectory()).size(), 3u);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 2);
  EXPECT_EQ(ReadListLines(parameters.retrieved_name).size(), 2u);
  expected = {"ShowDL:", "RecvStart:anna@quillon.test", "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, Pop3KeepModeTellsMessagesWithoutMessageIdApartByUniqueId) {
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  // Two messages without Message-ID and with the same Date: by those two
  // headers alone the second would pass for the first.
  auto without_id = [](int number) {
    TestMail mail = MakeTestMail(number, kAddress);
    const std::string header = "Message-ID: " + mail.message_id + "\r\n";
    mail.raw.erase(mail.raw.find(header), header.size());
    const std::string date = "Date: " + mail.date;
    mail.raw.replace(mail.raw.find(date), date.size(),
                     "Date: Tue, 08 Dec 2026 12:00:00 +0000");
    mail.message_id.clear();
    return mail;
  };
  const TestMail first = without_id(1);
  dovecot_->Deliver(kUser, first.raw);
  RunParameters parameters = Pop3Parameters();
  EXPECT_EQ(RunProgram(parameters), 0);
  ASSERT_EQ(ReadStoredMessages(runner_.DataDirectory()).size(), 1u);

  const TestMail second = without_id(2);
  dovecot_->Deliver(kUser, second.raw);
  EXPECT_EQ(RunProgram(parameters), 0);
  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 2u);
  ExpectStored(stored[0], first);
  ExpectStored(stored[1], second);
  const std::vector<std::string> lines = ReadListLines(parameters.retrieved_name);
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind("UIDL:", 0), 0u) << line;
    EXPECT_NE(line.find("Tue, 08 Dec 2026 12:00:00 +0000|"), std::string::npos) << line;
  }
  EXPECT_NE(lines[0].substr(0, lines[0].find("Tue,")),
            lines[1].substr(0, lines[1].find("Tue,")));
  TakeCommands();

  // Both are known now: a third run fetches nothing.
  EXPECT_EQ(RunProgram(parameters), 0);
  EXPECT_EQ(ReadStoredMessages(runner_.DataDirectory()).size(), 2u);
  const std::vector<std::string> expected = {"ShowDL:", "RecvStart:anna@quillon.test",
                                             "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, Pop3ListModeFetchesTheListedPositionsInListOrder) {
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  const std::vector<TestMail> mails = {Deliver(1), Deliver(2), Deliver(3), Deliver(4)};
  RunParameters parameters = Pop3Parameters();
  parameters.by_list = true;
  parameters.list_name = runner_.Directory() + "/positions.lst";
  test::WriteWholeFile(parameters.list_name, "3\r\nx\r\n-1\r\n0\r\n");

  EXPECT_EQ(RunProgram(parameters), 0);

  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 2u);
  ExpectStored(stored[0], mails[3]);
  ExpectStored(stored[1], mails[0]);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 4);
  const std::vector<std::string> lines = ReadListLines(parameters.retrieved_name);
  ASSERT_EQ(lines.size(), 2u);
  ExpectPop3ListLine(lines[0], mails[3]);
  ExpectPop3ListLine(lines[1], mails[0]);
  // List mode announces no message numbers.
  const std::vector<std::string> expected = {
      "ShowDL:", "RecvStart:anna@quillon.test", MessNew(1, 1), MessNew(2, 2),
      "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, MatchingRuleFilesTheMessageAndRepliesOverSmtp) {
  if (!SmtpSink::Available()) GTEST_SKIP() << "aiosmtpd is not installed";
  SmtpSink sink;
  const std::string reply_text = runner_.Directory() + "/reply.txt";
  test::WriteWholeFile(reply_text, "Thank you, the price list follows.\r\n");
  AccountSetup setup = Pop3Account();
  setup.smtp_host = sink.Address();
  setup.extra_folders_json =
      ",{\"FolderId\": 11, \"UserId\": 1, \"AccountId\": 3, \"FolderName\": \"Enquiries\"}";
  setup.rules_json =
      "{\"RuleId\": 7, \"UserId\": 1, \"TargetFolderId\": 11, \"RuleName\": \"Prices\","
      " \"ConditionField\": [\"Subject\"], \"ConditionContains\": [true],"
      " \"ConditionValue\": [\"message 2\"], \"ReplyEnabled\": true,"
      " \"ReplySubject\": \"Our prices\", \"ReplyTextFile\": \"" + reply_text + "\","
      " \"ColourEnabled\": true, \"RuleColourCode\": 4}";
  ASSERT_TRUE(runner_.BuildStore(setup));
  const std::vector<TestMail> mails = {Deliver(1), Deliver(2)};
  RunParameters parameters = Pop3Parameters();
  parameters.delete_messages = true;

  EXPECT_EQ(RunProgram(parameters), 0);

  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].record.FolderId, kIncomingFolder);
  EXPECT_EQ(stored[0].record.ColourCode, 1);
  EXPECT_EQ(stored[1].record.FolderId, 11);
  EXPECT_EQ(stored[1].record.ColourCode, 4);
  const std::vector<SmtpSink::Message> replies = sink.WaitForMessages(1);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].recipients, std::vector<std::string>{"sender2@quillon.test"});
  EXPECT_NE(replies[0].data.find("QVN-Auto: QVN4-REPLY"), std::string::npos)
      << replies[0].data;
  EXPECT_NE(replies[0].data.find("Our prices"), std::string::npos) << replies[0].data;
  EXPECT_NE(replies[0].data.find("Thank you, the price list follows."), std::string::npos)
      << replies[0].data;
  const std::vector<std::string> expected = {
      "ShowDL:",  "RecvStart:anna@quillon.test", "NowDL:1/2", MessNew(1, 1),
      "NowDL:2/2", "MessNew:11|2|2", "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, ImapFetchesTheWholeInboxAndLeavesItEmpty) {
  ASSERT_TRUE(runner_.BuildStore(ImapAccount()));
  const std::vector<TestMail> mails = {Deliver(1), Deliver(2), Deliver(3)};
  RunParameters parameters = Pop3Parameters();
  parameters.port = 1;  // the POP3 settings are not used for this account

  EXPECT_EQ(RunProgram(parameters), 0);

  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 3u);
  for (std::size_t i = 0; i < stored.size(); ++i) ExpectStored(stored[i], mails[i]);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 0);
  const std::vector<std::string> lines = ReadListLines(parameters.retrieved_name);
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string key = mails[i].message_id + "|";
    EXPECT_EQ(lines[i].rfind(key, 0), 0u) << lines[i];
    EXPECT_GT(lines[i].size(), key.size()) << lines[i];
  }
  // IMAP4 runs announce neither message numbers nor transfer progress.
  const std::vector<std::string> expected = {
      "ShowDL:", "RecvStart:anna@quillon.test", MessNew(1, 1), MessNew(2, 2),
      MessNew(3, 3), "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
  EXPECT_EQ(transfer_reports_, 0);
}

TEST_F(EndToEndTest, ImapLeavesAMessageThatArrivesDuringTheFetch) {
  ASSERT_TRUE(runner_.BuildStore(ImapAccount()));
  std::vector<TestMail> mails;
  for (int number = 1; number <= 8; ++number) {
    mails.push_back(MakeTestMail(number, kAddress, 500));
    dovecot_->Deliver(kUser, mails.back().raw);
  }
  test::StoreWatch watch(runner_.DataDirectory());
  ASSERT_TRUE(watch.Ready());
  const std::string parameter_file = runner_.WriteParameters(Pop3Parameters());

  const pid_t pid = runner_.Start({parameter_file});
  ASSERT_GT(pid, 0);
  // The first message is stored: the FETCH is under way.
  const bool fetching = watch.WaitFor(test::StoreWatch::When::kFileWritten, 1, pid,
                                      std::chrono::seconds(30));
  const TestMail late = MakeTestMail(99, kAddress);
  dovecot_->Deliver(kUser, late.raw);
  const ProgramEnd end = runner_.Wait(pid);
  ASSERT_TRUE(fetching) << end.output;
  EXPECT_EQ(end.exit_code, 0) << end.output;

  // The fetched messages are stored and gone from the server; the late one
  // was not fetched, so it must still be there.
  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), mails.size());
  for (std::size_t i = 0; i < stored.size(); ++i) ExpectStored(stored[i], mails[i]);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 1);

  // The next run fetches it.
  EXPECT_EQ(RunProgram(Pop3Parameters()), 0);
  const std::vector<StoredMessage> after = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(after.size(), mails.size() + 1);
  ExpectStored(after.back(), late);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 0);
}

TEST_F(EndToEndTest, EmptyImapInboxStillStartsAndStopsTheRun) {
  ASSERT_TRUE(runner_.BuildStore(ImapAccount()));
  EXPECT_EQ(RunProgram(Pop3Parameters()), 0);
  EXPECT_TRUE(ReadStoredMessages(runner_.DataDirectory()).empty());
  const std::vector<std::string> expected = {"ShowDL:", "RecvStart:anna@quillon.test",
                                             "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, Pop3OverStartTlsFromTheParameterFileAndARefusedCertificate) {
  if (!test::TestCertificates::Available()) GTEST_SKIP() << "openssl is not installed";
  const test::TestCertificates& certificates = test::TestCertificates::Get();
  const test::TestCertificate certificate = certificates.Server();
  dovecot_ = std::make_unique<DovecotServer>(
      std::vector<DovecotServer::User>{{kUser, kPassword}},
      DovecotServer::Tls{certificate.certificate_file, certificate.key_file});
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  const TestMail mail = Deliver(1);
  RunParameters parameters = Pop3Parameters();
  parameters.delete_messages = true;
  parameters.security = "starttls";

  // A CA that did not sign the server's certificate: the run stops before
  // the login and says why.
  parameters.ca_file = certificates.OtherCaFile();
  const ProgramEnd end = runner_.Run({runner_.WriteParameters(parameters)});
  EXPECT_EQ(end.exit_code, 3) << end.output;
  EXPECT_NE(end.output.find("The certificate of 127.0.0.1 was not accepted: unable to get "
                            "local issuer certificate"),
            std::string::npos)
      << end.output;
  EXPECT_EQ(dovecot_->CountMessages(kUser), 1);

  parameters.ca_file = certificates.CaFile();
  EXPECT_EQ(RunProgram(parameters), 0);
  const std::vector<StoredMessage> stored = ReadStoredMessages(runner_.DataDirectory());
  ASSERT_EQ(stored.size(), 1u);
  ExpectStored(stored[0], mail);
  EXPECT_EQ(dovecot_->CountMessages(kUser), 0);
  EXPECT_NE(dovecot_->LogText().find(", TLS"), std::string::npos);
}

TEST_F(EndToEndTest, RefusedConnectionStopsTwiceAndEndsByItself) {
  ASSERT_TRUE(runner_.BuildStore(Pop3Account()));
  test::RefusingPort refusing;
  RunParameters parameters = Pop3Parameters();
  parameters.host = refusing.Address();
  parameters.delete_messages = true;

  // The run ends by itself; its status tells the caller that the account
  // could not be reached.
  EXPECT_NE(RunProgram(parameters), 0);

  EXPECT_TRUE(ReadStoredMessages(runner_.DataDirectory()).empty());
  const std::vector<std::string> expected = {
      "ShowDL:", "RecvStart:anna@quillon.test", "RecvStop:anna@quillon.test",
      "RecvStop:anna@quillon.test"};
  EXPECT_EQ(TakeCommands(), expected);
}

TEST_F(EndToEndTest, RefusedImapConnectionSaysWhyOnAHiddenRun) {
  test::RefusingPort refusing;
  AccountSetup account = ImapAccount();
  account.imap_host = refusing.Address();
  ASSERT_TRUE(runner_.BuildStore(account));

  const ProgramEnd end = runner_.Run({runner_.WriteParameters(Pop3Parameters())});
  EXPECT_NE(end.exit_code, 0);
  EXPECT_NE(end.output.find("quillon: Error "), std::string::npos) << end.output;
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
  return quillon::test::RunWithPrivateBus(argc, argv);
}
