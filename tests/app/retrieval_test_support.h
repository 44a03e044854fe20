// What the retrieval driver tests share: a view that keeps what the run
// showed, a received-message step that records what it was given, scripted
// POP3 dialogues, and a fixture with its own data directory and talker.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/receive_status_words.h"
#include "app/retrieval_driver.h"
#include "mail/header_values.h"
#include "mail/message.h"
#include "net/imap_client.h"
#include "net/mailboxes.h"
#include "net/pop3_client.h"
#include "platform/data_dir.h"
#include "platform/date_text.h"
#include "rules/run_state.h"
#include "rules/talker_sender.h"
#include "store/account_record.h"
#include "tests/support/recording_talker.h"
#include "tests/support/scripted_server.h"

namespace quillon::test {

// The status window as the run sees it, with the English word table.
class RecordingRunView final : public RetrievalView {
 public:
  std::string AccountAddress() const override { return address; }
  bool ShownAtStart() const override { return shown_at_start; }
  void SetStatusText(const std::string& text) override {
    status_texts.push_back(text);
  }
  void SetMessageCounterText(const std::string& text) override {
    counter_texts.push_back(text);
  }
  void SetTransferText(const std::string& text) override {
    transfer_texts.push_back(text);
  }
  int ProgressValue() const override { return progress; }
  void SetProgressValue(int value) override { progress = value; }
  void RepaintProgress() override {}
  std::string GetWord(const std::string& id) const override {
    const TStringList& words = ReceiveStatusWords();
    for (std::size_t row = 0; row + 2 < words.size(); row += 3) {
      if (words[row] == id) return words[row + 1];
    }
    return "";
  }

  std::string address = "anna@example.org";
  bool shown_at_start = true;
  std::vector<std::string> status_texts;
  std::vector<std::string> counter_texts;
  std::vector<std::string> transfer_texts;
  int progress = 0;
};

// What the received-message step saw of one message.
struct StepMessage {
  std::string subject;
  std::string message_id;  // the run's CurrentMessageId
  int size = 0;            // the run's CurrentMessageSize
};

// Login, capabilities, mailbox lists and the selection of an INBOX that
// holds `count` messages.
inline Script ImapSession(int count) {
  Script script;
  script.Send("* OK [CAPABILITY IMAP4rev1] Fake ready.")
      .Expect("A0 LOGIN joe pw")
      .Send("A0 OK")
      .Expect("A1 CAPABILITY")
      .Send("* CAPABILITY IMAP4rev1")
      .Send("A1 OK")
      .Expect("A2 LSUB \"\" {1}")
      .Send("+ go")
      .Expect("%")
      .Send("A2 OK")
      .Expect("A3 LIST \"\" {1}")
      .Send("+ go")
      .Expect("%")
      .Send("* LIST () \"/\" INBOX")
      .Send("A3 OK")
      .Expect("A4 SELECT INBOX")
      .Send("* " + std::to_string(count) + " EXISTS")
      .Send("A4 OK [READ-WRITE] selected");
  return script;
}

// The date the recording step gives every stored message.
inline double StoredDate() { return EncodeDate(2026, 12, 8) + 0.5; }

// A message of the test mailbox; `message_id` or `date` empty leave the
// header out.
inline std::string MailText(const std::string& subject,
                            const std::string& message_id,
                            const std::string& date) {
  std::string text = "From: Ann <ann@example.org>\r\nTo: bob@example.net\r\n";
  if (!message_id.empty()) text += "Message-ID: " + message_id + "\r\n";
  if (!date.empty()) text += "Date: " + date + "\r\n";
  text += "Subject: " + subject + "\r\n\r\nHello from " + subject + ".\r\n";
  return text;
}

inline std::string MessageIdOf(int n) {
  return "<m" + std::to_string(n) + "@example.org>";
}

inline std::string DateOf(int n) {
  return "Mon, 7 Dec 2026 10:" + std::string(n % 60 < 10 ? "0" : "") +
         std::to_string(n % 60) + ":00 +0000";
}

inline std::string NumberedMail(int n) {
  return MailText("Message " + std::to_string(n), MessageIdOf(n), DateOf(n));
}

// A POP3 dialogue as the server plays it; indexes are zero-based as in the
// client, the commands carry index + 1.
class Pop3Dialogue {
 public:
  Pop3Dialogue& Login(int count) {
    script.Send("+OK POP3 ready")
        .Expect("USER joe")
        .Send("+OK")
        .Expect("PASS pw")
        .Send("+OK logged in")
        .Expect("STAT")
        .Send("+OK " + std::to_string(count) + " " +
              std::to_string(count * 300));
    return *this;
  }
  Pop3Dialogue& Info(int index, const std::string& mail) {
    const std::string number = std::to_string(index + 1);
    const std::size_t blank = mail.find("\r\n\r\n");
    const std::size_t first_line_end = mail.find("\r\n", blank + 4);
    script.Expect("LIST " + number)
        .Send("+OK " + number + " " + std::to_string(mail.size()))
        .Expect("TOP " + number + " 1")
        .Send("+OK")
        .SendRaw(mail.substr(0, first_line_end + 2) + ".\r\n");
    return *this;
  }
  Pop3Dialogue& Retrieve(int index, const std::string& mail) {
    const std::string number = std::to_string(index + 1);
    script.Expect("LIST " + number)
        .Send("+OK " + number + " " + std::to_string(mail.size()))
        .Expect("RETR " + number)
        .Send("+OK")
        .SendRaw(mail + ".\r\n");
    return *this;
  }
  Pop3Dialogue& RefuseRetrieve(int index, const std::string& mail) {
    const std::string number = std::to_string(index + 1);
    script.Expect("LIST " + number)
        .Send("+OK " + number + " " + std::to_string(mail.size()))
        .Expect("RETR " + number)
        .Send("-ERR message is locked");
    return *this;
  }
  Pop3Dialogue& Uidl(int index, const std::string& unique_id) {
    const std::string number = std::to_string(index + 1);
    script.Expect("UIDL " + number).Send("+OK " + number + " " + unique_id);
    return *this;
  }
  Pop3Dialogue& NoUidl(int index) {
    script.Expect("UIDL " + std::to_string(index + 1))
        .Send("-ERR unknown command");
    return *this;
  }
  Pop3Dialogue& Dele(int index) {
    script.Expect("DELE " + std::to_string(index + 1)).Send("+OK deleted");
    return *this;
  }
  Pop3Dialogue& Quit() {
    script.Expect("QUIT").Send("+OK bye");
    return *this;
  }

  Script script;
};

class RetrievalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon-driver-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    SetDataDirectory(directory_);
    CurrentRunState() = RunState{};
    CurrentAccount() = AccountRecord{};
    RunState& run = CurrentRunState();
    run.RetrievedName = Path("retrieved.txt");
    InstallTalker(&talker);
    pop.SetUserName("joe");
    pop.SetPassword("pw");
    pop.SetTimeOut(20);
    imap.SetAllMailboxes(&mailboxes);
    imap.SetTimeOut(20);
    imap.SetOpenAsReadOnly(false);
    // The window's cancel notifications, as the status window has them.
    pop.OnCancel = [](TagSocket&) { CurrentRunState().CancelRequested = true; };
    imap.OnCancel = [](TagSocket&) { CurrentRunState().CancelRequested = true; };
    driver.ProcessReceivedMessage = [this] { RecordStep(); };
    driver.Terminate = [this](int code) { exit_codes.push_back(code); };
    driver.SyncStoredFiles = [this] {
      sync_transcripts.push_back(server_ ? server_->Transcript()
                                         : std::vector<std::string>{});
      return true;
    };
  }
  void TearDown() override {
    InstallTalker(nullptr);
    std::filesystem::remove_all(directory_);
  }

  void RecordStep() {
    RunState& run = CurrentRunState();
    stored.push_back(
        {message.Subject(), run.CurrentMessageId, run.CurrentMessageSize});
    ++run.SavedCount;
    run.CurrentMessageDate = StoredDate();
  }

  ScriptedServer& StartPop3(const Pop3Dialogue& dialogue) {
    server_ = std::make_unique<ScriptedServer>(dialogue.script);
    pop.SetServer(server_->Address());
    return *server_;
  }
  ScriptedServer& StartImap(const Script& script) {
    server_ = std::make_unique<ScriptedServer>(script);
    CurrentAccount().IsImap = true;
    CurrentAccount().ImapHost = server_->Address();
    CurrentAccount().ImapUser = "joe";
    CurrentAccount().ImapPassword = "pw";
    return *server_;
  }
  std::string Finish() { return server_->Finish(); }

  std::string Path(const std::string& name) const {
    return directory_ + "/" + name;
  }
  void WriteFile(const std::string& path, const std::string& bytes) const {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  // The retrieved-list line the run writes for a POP3 message.
  static std::string ListedLine(const std::string& key) {
    return key + "|" + ShortDateText(StoredDate());
  }
  // Only the commands that begin with `prefix`.
  std::vector<std::string> CommandsBeginning(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& command : talker.commands) {
      if (command.rfind(prefix, 0) == 0) found.push_back(command);
    }
    return found;
  }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> subjects;
    for (const StepMessage& message : stored) subjects.push_back(message.subject);
    return subjects;
  }

  std::string directory_;
  RecordingTalker talker;
  TmsRemotePOP pop;
  TMailboxList mailboxes;
  TImap4Client imap;
  TmsMessage message;
  RecordingRunView view;
  TRetrievalDriver driver{pop, imap, message, view};
  std::vector<StepMessage> stored;
  std::vector<int> exit_codes;
  // The server's dialogue each time the stored files were made durable.
  std::vector<std::vector<std::string>> sync_transcripts;
  std::unique_ptr<ScriptedServer> server_;
};

// True when `transcript` holds `line`.
inline bool Holds(const std::vector<std::string>& transcript,
                  const std::string& line) {
  for (const std::string& entry : transcript) {
    if (entry == line) return true;
  }
  return false;
}

}  // namespace quillon::test
