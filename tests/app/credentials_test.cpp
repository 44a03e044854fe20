// The account's password never shows: whole runs (right password, wrong
// password, a server error at login, a server that falls silent after the
// password) are made in process, by the program and by quillon-tool, and
// every trace line, error text, status and counter text, talker command,
// exception text and program output is searched for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "rules/received_message.h"
#include "store/user_record.h"
#include "tests/app/end_to_end_support.h"
#include "tests/app/retrieval_test_support.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/tool_run.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::DovecotServer;
using test::Script;
using test::ScriptedServer;

// Distinctive, so that no other text holds it by chance.
constexpr char kPassword[] = "Qv7zKestrelPw93";
constexpr char kWrongPassword[] = "Qv7zWrongGuess41";

enum class Protocol { kPop3, kImap };

// Everything a run said, wherever it said it.
struct RunTexts {
  std::vector<std::string> lines;
  void Add(const std::string& where, const std::string& text) {
    lines.push_back(where + ": " + text);
  }
  void AddAll(const std::string& where, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) Add(where, text);
  }
};

::testing::AssertionResult HoldsNoPassword(const RunTexts& texts) {
  for (const std::string& line : texts.lines) {
    for (const char* secret : {kPassword, kWrongPassword}) {
      if (line.find(secret) != std::string::npos) {
        return ::testing::AssertionFailure() << "the password shows in " << line;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

class CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-credentials-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ + "/In");
    InstallTalker(&talker_);
  }
  void TearDown() override {
    InstallTalker(nullptr);
    fs::remove_all(root_);
  }

  // One run through the driver and the received-message step, with every
  // trace and error of both clients kept.
  RunTexts RunInProcess(Protocol protocol, const std::string& address,
                        const std::string& password, int time_out_seconds = 20) {
    SetDataDirectory(root_);
    CurrentRunState() = RunState{};
    CurrentRunState().RetrievedName = root_ + "/retrieved.txt";
    CurrentRunState().DeleteMode = true;
    CurrentAccount() = AccountRecord{};
    CurrentAccount().EMailAddress = "anna@quillon.test";
    CurrentUser() = UserRecord{};
    talker_.commands.clear();

    TmsRemotePOP pop;
    TMailboxList mailboxes;
    TImap4Client imap;
    TmsMessage source, reply;
    TmsSMTP reply_mail;
    test::RecordingRunView view;
    TRetrievalDriver driver(pop, imap, source, view);
    TReceivedMessageStep step(source, reply, reply_mail, view, nullptr);
    driver.ProcessReceivedMessage = [&step] { step.ProcessReceivedMessage(); };
    RunTexts texts;
    for (TmsMailBase* client : {static_cast<TmsMailBase*>(&pop),
                                static_cast<TmsMailBase*>(&imap)}) {
      client->OnTrace = [&texts](const std::string& line) { texts.Add("trace", line); };
      client->OnError = [&texts](TagSocket&, std::string& message) {
        texts.Add("error event", message);
      };
      client->SetTimeOut(time_out_seconds);
    }
    if (protocol == Protocol::kPop3) {
      pop.SetServer(address);
      pop.SetUserName("joe");
      pop.SetPassword(password);
    } else {
      imap.SetAllMailboxes(&mailboxes);
      imap.SetOpenAsReadOnly(false);
      CurrentAccount().IsImap = true;
      CurrentAccount().ImapHost = address;
      CurrentAccount().ImapUser = "joe";
      CurrentAccount().ImapPassword = password;
    }
    try {
      driver.RunRetrieval();
    } catch (const std::exception& error) {
      texts.Add("exception", error.what());
    }
    texts.AddAll("status", view.status_texts);
    texts.AddAll("counter", view.counter_texts);
    texts.AddAll("transfer", view.transfer_texts);
    texts.AddAll("talker", talker_.commands);
    texts.Add("retrieved list", test::ReadWholeFile(root_ + "/retrieved.txt"));
    return texts;
  }

  std::string root_;
  test::RecordingTalker talker_;
};

TEST_F(CredentialsTest, RunsAgainstDovecotNeverShowThePassword) {
  if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not installed";
  DovecotServer dovecot(std::vector<DovecotServer::User>{{"joe", kPassword}});
  for (Protocol protocol : {Protocol::kPop3, Protocol::kImap}) {
    const std::string address =
        protocol == Protocol::kPop3 ? dovecot.Pop3Address() : dovecot.ImapAddress();
    dovecot.Deliver("joe", test::MakeTestMail(1, "anna@quillon.test", 2).raw);
    const RunTexts stored = RunInProcess(protocol, address, kPassword);
    EXPECT_TRUE(HoldsNoPassword(stored));
    EXPECT_EQ(dovecot.CountMessages("joe"), 0) << "the run did not get through";
    // The traces did see the login (masked).
    bool saw_login = false;
    for (const std::string& line : stored.lines) {
      saw_login = saw_login || line.find("****") != std::string::npos;
    }
    EXPECT_TRUE(saw_login);
    EXPECT_TRUE(HoldsNoPassword(RunInProcess(protocol, address, kWrongPassword)));
  }
}

TEST_F(CredentialsTest, ServerErrorsAndTimeOutsAtLoginNeverShowThePassword) {
  const std::string pass = std::string("PASS ") + kPassword;
  const std::string login = std::string("A0 LOGIN joe ") + kPassword;
  struct Case {
    Protocol protocol;
    Script script;
  };
  std::vector<Case> cases;
  cases.push_back({Protocol::kPop3, Script().Send("+OK ready").Expect("USER joe").Send("+OK")
                                        .Expect(pass).Send("-ERR [SYS/TEMP] server error")});
  cases.push_back({Protocol::kPop3,
                   Script().Send("+OK ready").Expect("USER joe").Send("+OK").Expect(pass).Silence()});
  cases.push_back({Protocol::kImap, Script().Send("* OK ready").Expect(login)
                                        .Send("A0 NO [UNAVAILABLE] server error")});
  cases.push_back({Protocol::kImap, Script().Send("* OK ready").Expect(login).Silence()});
  for (const Case& entry : cases) {
    ScriptedServer server(entry.script);
    const RunTexts texts = RunInProcess(entry.protocol, server.Address(), kPassword, 1);
    EXPECT_TRUE(HoldsNoPassword(texts));
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST_F(CredentialsTest, ProgramAndToolOutputNeverShowThePassword) {
  if (!DovecotServer::Available()) GTEST_SKIP() << "Dovecot is not installed";
  DovecotServer dovecot(std::vector<DovecotServer::User>{{"joe", kPassword}});
  dovecot.Deliver("joe", test::MakeTestMail(1, "anna@quillon.test", 2).raw);
  RunTexts texts;

  test::ProgramRunner runner;
  test::AccountSetup setup;
  ASSERT_TRUE(runner.BuildStore(setup));
  test::RunParameters parameters;
  parameters.port = dovecot.Pop3Port();
  parameters.user = "joe";
  parameters.delete_messages = true;
  parameters.retrieved_name = runner.Directory() + "/retrieved.txt";
  for (const char* password : {kWrongPassword, kPassword}) {
    parameters.password = password;
    const test::ProgramEnd end = runner.Run({runner.WriteParameters(parameters)});
    texts.Add("program", end.output);
  }
  EXPECT_EQ(dovecot.CountMessages("joe"), 0) << "the program did not get through";

  for (const char* password : {kWrongPassword, kPassword}) {
    ::setenv("QUILLON_CREDENTIALS_TEST_PASSWORD", password, 1);
    const std::string login = " --user joe --password-env QUILLON_CREDENTIALS_TEST_PASSWORD"
                              " --timeout 10 --trace ";
    texts.Add("pop3 tool", test::RunTool("pop3 --server " + dovecot.Pop3Address() + login +
                                             "stat",
                                         test::ToolStderr::kMerged)
                               .output);
    texts.Add("imap tool", test::RunTool("imap --server " + dovecot.ImapAddress() + login +
                                             "list",
                                         test::ToolStderr::kMerged)
                               .output);
  }
  ::unsetenv("QUILLON_CREDENTIALS_TEST_PASSWORD");
  EXPECT_TRUE(HoldsNoPassword(texts));
  // The tools did log in and trace it.
  bool traced_login = false;
  for (const std::string& line : texts.lines) {
    traced_login = traced_login || line.find("LOGIN joe") != std::string::npos;
  }
  EXPECT_TRUE(traced_login);
}

}  // namespace
}  // namespace quillon
