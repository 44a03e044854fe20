// Whole runs of build/bin/quillon as the main application starts it: a
// temporary data directory made with `quillon-tool store build`, a
// parameter file, no display, and what the run left behind (the message
// index, the files under In/, the retrieved-list file).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "store/message_names.h"
#include "store/message_store.h"
#include "store/record_bytes.h"
#include "tests/support/tool_run.h"

extern char** environ;

namespace quillon::test {

namespace fs = std::filesystem;

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// One test message: the marker in its subject, Message-ID and body tells
// it apart from the others.
struct TestMail {
  int number = 0;
  std::string message_id;  // with the angle brackets
  std::string date;
  std::string body_marker;
  std::string raw;  // CR LF lines, as delivered
};

// Plain text messages, some with an attachment, `body_lines` lines of text
// each (more lines make a longer transfer).
inline TestMail MakeTestMail(int number, const std::string& recipient,
                             int body_lines = 20) {
  TestMail mail;
  mail.number = number;
  mail.message_id = "<" + std::to_string(number) + ".run@quillon.test>";
  mail.date = "Tue, 08 Dec 2026 12:" + std::string(number % 60 < 10 ? "0" : "") +
              std::to_string(number % 60) + ":00 +0000";
  mail.body_marker = "body-marker-" + std::to_string(number) + "-end";
  std::string text;
  for (int line = 0; line < body_lines; ++line) {
    text += "Line " + std::to_string(line) +
            " of the message text, long enough to make a few bytes.\r\n";
  }
  text += mail.body_marker + "\r\n";
  std::string headers = "From: Sender " + std::to_string(number) +
                        " <sender" + std::to_string(number) +
                        "@quillon.test>\r\n"
                        "To: " + recipient + "\r\n"
                        "Subject: Test message " + std::to_string(number) +
                        "\r\n"
                        "Message-ID: " + mail.message_id + "\r\n"
                        "Date: " + mail.date + "\r\n"
                        "MIME-Version: 1.0\r\n";
  if (number % 4 != 3) {
    mail.raw = headers + "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + text;
    return mail;
  }
  const std::string boundary = "part-boundary-" + std::to_string(number);
  mail.raw = headers + "Content-Type: multipart/mixed; boundary=\"" +
             boundary + "\"\r\n\r\n--" + boundary +
             "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + text +
             "--" + boundary +
             "\r\nContent-Type: application/octet-stream; name=\"data" +
             std::to_string(number) +
             ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
             "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\r\n--" +
             boundary + "--\r\n";
  return mail;
}

// A data record of the message index and what it names on disk.
struct StoredMessage {
  int record_number = 0;
  MessageRecord record;
  std::string message_text;     // the .eml file ("" when missing)
  std::string recipients_text;  // the .rcv file
  bool message_file_exists = false;
  bool recipients_file_exists = false;
};

inline std::string OnDisk(const std::string& data_dir, std::string stored_name) {
  for (char& c : stored_name) {
    if (c == '\\') c = '/';
  }
  return data_dir + "/" + stored_name;
}

// Data records in the message index file, the header's count aside.
inline int RecordsInIndexFile(const std::string& data_dir) {
  const std::string index = ReadWholeFile(data_dir + "/" + kMessagesFileName);
  const std::size_t records = index.size() / MessageRecord::kSize;
  return records > 0 ? static_cast<int>(records) - 1 : 0;
}

// The data records of the message index that its header counts (those
// the main application reads), in record order.
inline std::vector<StoredMessage> ReadStoredMessages(const std::string& data_dir) {
  std::vector<StoredMessage> messages;
  const std::string index = ReadWholeFile(data_dir + "/" + kMessagesFileName);
  if (index.size() < MessageRecord::kSize) return messages;
  const int counted = GetInt32(index, MessageIndexHeader::kRecordCountOffset);
  const std::size_t records =
      std::min<std::size_t>(index.size() / MessageRecord::kSize,
                            static_cast<std::size_t>(std::max(counted, 0)) + 1);
  for (std::size_t number = 1; number < records; ++number) {
    StoredMessage stored;
    stored.record_number = static_cast<int>(number);
    stored.record = MessageRecord::FromBytes(
        index.substr(number * MessageRecord::kSize, MessageRecord::kSize));
    const std::string message_path = OnDisk(data_dir, stored.record.MessageFileName);
    const std::string recipients_path =
        OnDisk(data_dir, stored.record.RecipientsFileName);
    stored.message_file_exists = fs::is_regular_file(message_path);
    stored.recipients_file_exists = fs::is_regular_file(recipients_path);
    if (stored.message_file_exists) stored.message_text = ReadWholeFile(message_path);
    if (stored.recipients_file_exists) {
      stored.recipients_text = ReadWholeFile(recipients_path);
    }
    messages.push_back(std::move(stored));
  }
  return messages;
}

// Names of the files in In/ with the given extension (".eml", ".rcv").
inline std::vector<std::string> FilesInStore(const std::string& data_dir,
                                             const std::string& extension) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry :
       fs::directory_iterator(data_dir + "/" + kStoredMessagesFolder, error)) {
    if (entry.path().extension() == extension) {
      names.push_back(entry.path().filename().string());
    }
  }
  return names;
}

// The retrieved-list file's lines (CR LF separated, the last one ended).
inline std::vector<std::string> ReadListLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadWholeFile(path);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

struct AccountSetup {
  int account_id = 3;
  int user_id = 1;
  int incoming_folder_id = 10;
  std::string address = "anna@quillon.test";
  bool imap = false;
  std::string imap_host;  // "host:port"
  std::string imap_user;
  std::string imap_password;
  std::string smtp_host = "127.0.0.1:1";
  std::string extra_folders_json;  // ",{...}" appended to the folders
  std::string rules_json;          // the rules array's entries
};

struct RunParameters {
  std::string host = "127.0.0.1";
  int port = 110;
  std::string user;
  std::string password;
  int timeout_seconds = 30;
  bool delete_messages = false;
  int max_messages = 150;
  int account_id = 3;
  bool by_list = false;
  std::string list_name;
  std::string retrieved_name;
  std::string security;  // "Security" and "CAFile", written when not empty
  std::string ca_file;
};

struct ProgramEnd {
  bool exited = false;  // false: killed by a signal or did not end
  int exit_code = -1;
  std::string output;
};

// A temporary directory with the data directory inside it, and the runs of
// the program on it.
class ProgramRunner {
 public:
  ProgramRunner() {
    char pattern[] = "/tmp/quillon-e2e-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) directory_ = pattern;
    data_ = directory_ + "/data";
    fs::create_directories(data_);
  }
  ~ProgramRunner() {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }
  ProgramRunner(const ProgramRunner&) = delete;
  ProgramRunner& operator=(const ProgramRunner&) = delete;

  static std::string Program() { return QUILLON_BINARY_DIR "/bin/quillon"; }

  const std::string& Directory() const { return directory_; }
  const std::string& DataDirectory() const { return data_; }

  // The accounts, users, folders and rules files as the main application
  // writes them.
  ::testing::AssertionResult BuildStore(const AccountSetup& setup) const {
    std::ostringstream json;
    json << "{\"users\": [{\"Id\": " << setup.user_id
         << ", \"UserName\": \"Anna Test\"}],\n"
         << "\"accounts\": [{\"Id\": " << setup.account_id
         << ", \"UserId\": " << setup.user_id << ", \"EMailAddress\": \""
         << setup.address << "\", \"ReplyToAddress\": \"" << setup.address
         << "\", \"SenderName\": \"Anna Test\", \"IsImap\": "
         << (setup.imap ? "true" : "false") << ", \"ImapHost\": \""
         << setup.imap_host << "\", \"ImapUser\": \"" << setup.imap_user
         << "\", \"ImapPassword\": \"" << setup.imap_password
         << "\", \"SmtpHost\": \"" << setup.smtp_host
         << "\", \"SmtpTimeOut\": 20}],\n"
         << "\"folders\": [{\"FolderId\": " << setup.incoming_folder_id
         << ", \"UserId\": " << setup.user_id
         << ", \"AccountId\": " << setup.account_id
         << ", \"FolderName\": \"Inbox\", \"FolderKind\": 2}"
         << setup.extra_folders_json << "],\n"
         << "\"rules\": [" << setup.rules_json << "]}\n";
    const std::string description = directory_ + "/store.json";
    WriteWholeFile(description, json.str());
    const ToolRun run = RunTool("store build '" + description + "' '" + data_ + "'",
                                ToolStderr::kMerged);
    if (run.exit_code != 0) {
      return ::testing::AssertionFailure() << "store build failed: " << run.output;
    }
    return ::testing::AssertionSuccess();
  }

  // Writes a parameter file in the temporary directory; returns its path.
  std::string WriteParameters(const RunParameters& p,
                              const std::string& name = "run.ini") const {
    std::ostringstream ini;
    ini << "[Login]\r\nHost=" << p.host << "\r\nUser=" << p.user
        << "\r\nPassword=" << p.password << "\r\nTimeOut=" << p.timeout_seconds
        << "\r\nPort=" << p.port;
    if (!p.security.empty()) ini << "\r\nSecurity=" << p.security;
    if (!p.ca_file.empty()) ini << "\r\nCAFile=" << p.ca_file;
    ini << "\r\nDelete Messages="
        << (p.delete_messages ? 1 : 0) << "\r\nMax Messages=" << p.max_messages
        << "\r\nManualRetrieve=0\r\n[UserInfo]\r\nAccount=" << p.account_id
        << "\r\nBy List=" << (p.by_list ? 1 : 0) << "\r\nList Name="
        << p.list_name << "\r\nRetrieved Name=" << p.retrieved_name << "\r\n";
    const std::string path = directory_ + "/" + name;
    WriteWholeFile(path, ini.str());
    return path;
  }

  // Sets `name` for the programs started from now on ("NAME=value").
  void SetEnvironment(const std::string& name, const std::string& value) {
    extra_environment_.push_back(name + "=" + value);
  }

  // Starts the program without a display (it then runs hidden) and
  // returns its process id, -1 when it cannot be started.
  pid_t Start(const std::vector<std::string>& arguments) {
    environment_.clear();
    auto overridden = [this](const std::string& text) {
      for (const std::string& extra : extra_environment_) {
        if (text.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0) {
          return true;
        }
      }
      return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (text.rfind("DISPLAY=", 0) == 0 || text.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
          text.rfind("QUILLON_", 0) == 0 || text.rfind("QT_QPA_", 0) == 0 ||
          overridden(text)) {
        continue;
      }
      environment_.push_back(text);
    }
    environment_.insert(environment_.end(), extra_environment_.begin(),
                        extra_environment_.end());
    environment_.push_back("QUILLON_DATA_DIR=" + data_);
    environment_.push_back("QUILLON_SHOW_STATE=1");
    output_path_ = directory_ + "/output-" + std::to_string(++runs_) + ".txt";

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, directory_.c_str());
    const std::string program = Program();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment_) envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr,
                                      argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
  }

  // Waits (bounded) for `pid` to end; a hang is killed and reported.
  ProgramEnd Wait(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    ProgramEnd end;
    FileHandle process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    pollfd entry{process.Get(), POLLIN, 0};
    if (!process.IsOpen() || ::poll(&entry, 1, static_cast<int>(limit.count())) != 1) {
      ADD_FAILURE() << "the program did not end by itself";
      ::kill(pid, SIGKILL);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    end.exited = WIFEXITED(status);
    end.exit_code = end.exited ? WEXITSTATUS(status) : -1;
    end.output = ReadWholeFile(output_path_);
    return end;
  }

  ProgramEnd Run(const std::vector<std::string>& arguments) {
    const pid_t pid = Start(arguments);
    if (pid < 0) {
      ADD_FAILURE() << "cannot start " << Program();
      return {};
    }
    return Wait(pid);
  }

 private:
  std::string directory_;
  std::string data_;
  std::string output_path_;
  std::vector<std::string> environment_;
  std::vector<std::string> extra_environment_;
  int runs_ = 0;
};

// What the store holds for the test messages: for each message number, how
// many complete copies (index record, message file holding the body,
// recipients file) and how many broken traces.
struct StoreCensus {
  std::map<int, int> complete_copies;  // by TestMail::number
  int records_without_message_file = 0;
  int records_of_unknown_messages = 0;
  int message_files_without_record = 0;
};

inline StoreCensus TakeCensus(const std::string& data_dir,
                              const std::vector<TestMail>& mails) {
  StoreCensus census;
  const std::vector<StoredMessage> stored = ReadStoredMessages(data_dir);
  std::vector<std::string> recorded_files;
  for (const StoredMessage& message : stored) {
    const std::string file = message.record.MessageFileName;
    recorded_files.push_back(file.substr(file.rfind('\\') + 1));
    if (!message.message_file_exists) {
      ++census.records_without_message_file;
      continue;
    }
    bool known = false;
    for (const TestMail& mail : mails) {
      if (message.message_text.find(mail.body_marker) != std::string::npos &&
          message.recipients_file_exists) {
        ++census.complete_copies[mail.number];
        known = true;
        break;
      }
    }
    if (!known) ++census.records_of_unknown_messages;
  }
  for (const std::string& name : FilesInStore(data_dir, ".eml")) {
    bool recorded = false;
    for (const std::string& file : recorded_files) recorded = recorded || file == name;
    if (!recorded) ++census.message_files_without_record;
  }
  return census;
}

}  // namespace quillon::test
