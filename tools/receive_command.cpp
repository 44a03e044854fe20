// quillon-tool receive: puts one raw message through the received-message
// step of a run (store, rules, actions, notification) against a store on
// disk, and tells what happened as JSON.
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "platform/code_pages.h"
#include "platform/data_dir.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "rules/filter_engine.h"
#include "rules/received_message.h"
#include "rules/run_state.h"
#include "store/account_record.h"
#include "store/message_store.h"
#include "store/rule_record.h"
#include "store/user_record.h"
#include "tools/command_registry.h"
#include "tools/support/receive_services.h"

namespace quillon::tool {
namespace {

using json = nlohmann::ordered_json;

struct ReceiveOptions {
  std::string data_directory;
  int user_id = 0;
  int account_id = 0;
  std::string message_file;
  std::string smtp_server;  // replaces the account's SMTP host when set
};

int NumberArgument(const std::string& text, const char* what) {
  int value = 0;
  if (!TryStrToInt(text, value)) throw UsageError{std::string(what) + " must be a number"};
  return value;
}

ReceiveOptions ParseOptions(const Arguments& arguments) {
  ReceiveOptions options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--smtp" && i + 1 < arguments.size()) {
      options.smtp_server = arguments[++i];
    } else if (arguments[i].starts_with("--")) {
      throw UsageError{"unknown option or missing value: " + arguments[i]};
    } else {
      words.push_back(arguments[i]);
    }
  }
  if (words.size() != 4) throw UsageError{"expected: DATADIR USERID ACCOUNTID MSGFILE"};
  options.data_directory = words[0];
  options.user_id = NumberArgument(words[1], "USERID");
  options.account_id = NumberArgument(words[2], "ACCOUNTID");
  options.message_file = words[3];
  return options;
}

class RecordingStatusLine final : public ReceivedMessageView {
 public:
  void SetStatusText(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

// The account, its owner and the owner's rules, as the start of a run
// reads them. An account of another user is refused: its mail would be
// filed under the wrong user's folders and rules.
void ReadRunRecords(const ReceiveOptions& options) {
  SetDataDirectory(options.data_directory);
  RunState& run = CurrentRunState();
  run.CurrentAccountId = options.account_id;
  ReadAccount(options.account_id);
  if (CurrentAccount().Id == -1) {
    throw std::runtime_error("no account " + std::to_string(options.account_id));
  }
  if (CurrentAccount().UserId != options.user_id) {
    throw std::runtime_error("account " + std::to_string(options.account_id) +
                             " belongs to user " + std::to_string(CurrentAccount().UserId) +
                             ", not " + std::to_string(options.user_id));
  }
  run.CurrentUserId = options.user_id;
  ReadUser(options.user_id);
  if (CurrentUser().Id == -1) {
    throw std::runtime_error("no user " + std::to_string(options.user_id));
  }
  BuildRuleList(options.user_id);
  if (!options.smtp_server.empty()) CurrentAccount().SmtpHost = options.smtp_server;
}

// Decodes the raw message as a run does with downloaded data; the size
// and Message-ID are what a run knows before decoding.
void LoadReceivedMessage(const std::string& path, TmsMessage& message) {
  TFileStream file(path, TFileStream::Mode::kOpenRead);
  RunState& run = CurrentRunState();
  run.CurrentMessageSize = static_cast<int>(file.Size());
  message.Clear();
  message.LoadFromStream(file);
  run.CurrentMessageId = message.Headers().GetFieldValue("Message-ID");
}

std::string Utf8(const std::string& text) { return Latin1ToUtf8(text); }

json ResultJson(bool stored, const std::vector<std::string>& actions) {
  const RunState& run = CurrentRunState();
  const MessageRecord& record = CurrentMessage();
  json files = json::array();
  if (stored) {
    files.push_back(Utf8(record.MessageFileName));
    files.push_back(Utf8(record.RecipientsFileName));
  }
  json shown = json::array();
  for (const std::string& text : actions) shown.push_back(Utf8(text));
  return {{"stored", stored},
          {"message_number", stored ? record.MessageNumber : 0},
          {"folder_id", stored ? record.FolderId : -1},
          {"rule_id", MatchedRuleId()},
          {"colour_code", stored ? record.ColourCode : 0},
          {"priority_code", stored ? record.Priority : 0},
          {"saved_count", run.SavedCount},
          {"files", std::move(files)},
          {"actions", std::move(shown)}};
}

int Receive(const Arguments& arguments) {
  const ReceiveOptions options = ParseOptions(arguments);
  ReadRunRecords(options);
  TmsMessage message_source;
  LoadReceivedMessage(options.message_file, message_source);

  TmsMessage reply_message;
  TmsSMTP reply_mail;
  reply_mail.SetMailMessage(&reply_message);
  RecordingStatusLine status_line;
  // The program's printer and talker where the tool was built with them.
  const std::unique_ptr<ReceiveServices> services = MakeReceiveServices();
  MessagePrinter* printer = services != nullptr ? services->Printer() : nullptr;
  TReceivedMessageStep step(message_source, reply_message, reply_mail, status_line, printer);
  const int saved_before = CurrentRunState().SavedCount;
  step.ProcessReceivedMessage();
  const bool stored = CurrentRunState().SavedCount > saved_before;
  std::cout << ResultJson(stored, status_line.texts).dump(2) << "\n";
  return 0;
}

const CommandRegistration registration(
    "receive",
    "  receive DATADIR USERID ACCOUNTID MSGFILE [--smtp HOST:PORT]\n"
    "                              store a raw message as a run would, apply the\n"
    "                              user's rules and their actions (JSON); --smtp\n"
    "                              replaces the account's SMTP host for replies\n"
    "                              and forwards\n",
    Receive);

}  // namespace
}  // namespace quillon::tool
