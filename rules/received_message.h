// The received-message step: stores a downloaded message (message file,
// recipients file, index record), runs the user's filter rules, carries out
// the matching rule's actions (reply, forward, print, address book, saving
// attachments, colour) and announces the message to the main application.
#pragma once

#include <string>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "rules/message_printer.h"

namespace quillon {

// Where the step shows what it is doing: the status window's status line.
class ReceivedMessageView {
 public:
  virtual ~ReceivedMessageView() = default;
  virtual void SetStatusText(const std::string& text) = 0;
};

// The product text of the "X-mailer:" line of replies and forwards.
inline constexpr char kProductText[] = "Velmar's Corvane 4 Preview 6";

class TReceivedMessageStep {
 public:
  // The components belong to the status window and outlive the step.
  // `reply_mail` sends `reply_message`. `printer` may be null: a print rule
  // then fails with EPrinterError, as with no printer installed.
  TReceivedMessageStep(TmsMessage& message_source, TmsMessage& reply_message,
                       TmsSMTP& reply_mail, ReceivedMessageView& view,
                       MessagePrinter* printer);

  // Processes `message_source` for the current run (CurrentRunState(), the
  // current account, user and rule list). Reply and forward failures are
  // swallowed; every other failure propagates, leaving the files written so
  // far. Updates SavedCount and CurrentMessageDate of the run state.
  void ProcessReceivedMessage();

 private:
  // The local values of one call.
  struct Processing {
    int folder_id = -1;
    int message_number = 0;
    std::string message_file_name;
    std::string recipients_file_name;
    std::string zone_text;
    int colour_code = 1;
    int priority_code = 1;
  };

  bool IsEmptyMessage() const;
  void SaveMessageFiles(const Processing& processing);
  void RemoveMessageFiles(const Processing& processing);
  void TakeMessageDate(Processing& processing);
  void ApplyMatchedRule(Processing& processing);
  void Reply(const Processing& processing);
  void Forward(const Processing& processing);
  void Print();
  void UpdateAddressBook();
  void SaveAttachments();
  void StoreIndexRecord(const Processing& processing);
  std::string Subject() const;

  TmsMessage& message_source_;
  TmsMessage& reply_message_;
  TmsSMTP& reply_mail_;
  ReceivedMessageView& view_;
  MessagePrinter* printer_;
};

}  // namespace quillon
