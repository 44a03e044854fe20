#include "rules/received_message.h"

#include <unistd.h>

#include "mail/header_values.h"
#include "platform/date_text.h"
#include "platform/text.h"
#include "rules/filter_engine.h"
#include "rules/reply_forward.h"
#include "rules/run_state.h"
#include "rules/talker_sender.h"
#include "store/account_record.h"
#include "store/address_record.h"
#include "store/folder_record.h"
#include "store/message_names.h"
#include "store/message_recipients.h"
#include "store/message_store.h"
#include "store/rule_record.h"
#include "store/user_record.h"

namespace quillon {

namespace {

constexpr std::size_t kPrintedRecipientLength = 143;

int IncomingMailFolder() {
  const RunState& run = CurrentRunState();
  return FindFolder(run.CurrentUserId, run.CurrentAccountId, kIncomingMailFolderKind, "");
}

int PriorityCode(TPriority priority) {
  switch (priority) {
    case TPriority::ptLow:
      return 0;
    case TPriority::ptHigh:
      return 2;
    default:
      return 1;
  }
}

// "<" + address + ">" + name: how rules and printouts name the sender.
std::string SenderText(const TmsMailAddress& sender) {
  return "<" + sender.Address() + ">" + sender.Name();
}

PrintRequest PrintRequestOf(const TmsMessage& message, const RuleRecord& rule,
                            double message_date) {
  PrintRequest request;
  request.use_default_printer = rule.UseDefaultPrinter != 0;
  request.printer_name = rule.PrinterName;
  request.subject = message.Subject();
  request.from = SenderText(message.Sender());
  request.to = Cut(CurrentUser().UserName + " <" + CurrentAccount().EMailAddress + ">",
                   kPrintedRecipientLength);
  request.date = ShortDateText(message_date) + " " + LongTimeText(message_date);
  request.body = message.Body();
  return request;
}

}  // namespace

TReceivedMessageStep::TReceivedMessageStep(TmsMessage& message_source,
                                           TmsMessage& reply_message, TmsSMTP& reply_mail,
                                           ReceivedMessageView& view,
                                           MessagePrinter* printer)
    : message_source_(message_source),
      reply_message_(reply_message),
      reply_mail_(reply_mail),
      view_(view),
      printer_(printer) {}

void TReceivedMessageStep::ProcessReceivedMessage() {
  if (IsEmptyMessage()) return;
  RunState& run = CurrentRunState();
  Processing processing;
  processing.folder_id = IncomingMailFolder();
  processing.message_number = NewMessageNumber();
  processing.message_file_name =
      MessageFileName(processing.message_number, run.CurrentAccountId, run.CurrentUserId);
  processing.recipients_file_name =
      RecipientsFileName(processing.message_number, run.CurrentAccountId, run.CurrentUserId);
  SaveMessageFiles(processing);
  TakeMessageDate(processing);

  ++run.SavedCount;
  processing.priority_code = PriorityCode(message_source_.Priority());

  view_.SetStatusText("[Scanning filters...]");
  processing.folder_id = FindRuleFolder(
      message_source_.Headers(), Subject(), SenderText(message_source_.Sender()),
      message_source_.Recipients(), message_source_.CC(), message_source_.BCC(),
      message_source_.Body(), processing.folder_id);
  if (MatchedRuleId() != -1) ApplyMatchedRule(processing);

  view_.SetStatusText("[Saving message...]");
  try {
    StoreIndexRecord(processing);
  } catch (...) {
    // Files that no counted record names would only lie about.
    if (!IndexEndsWithMessage(processing.message_number)) RemoveMessageFiles(processing);
    throw;
  }
  CurrentTalker().SendTalkerCommand(
      MessNewCommand(processing.folder_id, LastStoredRecordNumber(), run.SavedCount));
  view_.SetStatusText("");
}

bool TReceivedMessageStep::IsEmptyMessage() const {
  return Trim(message_source_.Body().Text()).empty() &&
         Trim(message_source_.Sender().Address()).empty() &&
         message_source_.Attachments().Count() == 0;
}

void TReceivedMessageStep::SaveMessageFiles(const Processing& processing) {
  const std::string message_path = StoredFilePath(processing.message_file_name);
  const std::string recipients_path = StoredFilePath(processing.recipients_file_name);
  try {
    message_source_.SaveToFile(message_path);
    WriteMessageRecipientsFile(recipients_path, message_source_);
  } catch (...) {
    // No record will name them: a half-written pair would only lie about.
    RemoveMessageFiles(processing);
    throw;
  }
}

void TReceivedMessageStep::RemoveMessageFiles(const Processing& processing) {
  ::unlink(StoredFilePath(processing.message_file_name).c_str());
  ::unlink(StoredFilePath(processing.recipients_file_name).c_str());
}

void TReceivedMessageStep::TakeMessageDate(Processing& processing) {
  TDateTime date = 0;
  ParseMailDate(message_source_.Headers().GetFieldValue("Date"), date,
                processing.zone_text);
  // A message without a readable date is dated when it arrives.
  if (date == 0) date = NowDateTime();
  CurrentRunState().CurrentMessageDate = date;
}

void TReceivedMessageStep::ApplyMatchedRule(Processing& processing) {
  const RuleRecord& rule = CurrentRule();
  LoadFolder(processing.folder_id);
  if (CurrentFolder().FolderId == -1) processing.folder_id = IncomingMailFolder();

  view_.SetStatusText("[Applying filterrule " + rule.RuleName + "...]");
  if (rule.ReplyEnabled != 0) Reply(processing);
  if (rule.ForwardEnabled != 0) Forward(processing);
  if (rule.PrintEnabled != 0) Print();
  if (rule.AddressActionEnabled != 0) UpdateAddressBook();
  if (rule.SaveAttachmentsEnabled != 0) SaveAttachments();
  if (rule.ColourEnabled != 0) {
    view_.SetStatusText("Color Coding: " + Subject());
    processing.colour_code = rule.RuleColourCode;
  }
}

void TReceivedMessageStep::Reply(const Processing& processing) {
  view_.SetStatusText("Replying: " + Subject());
  const AutoMailContext context{CurrentAccount(), CurrentUser(), CurrentRule(),
                                processing.message_number};
  SendAutoReply(message_source_, context, reply_message_, reply_mail_);
}

void TReceivedMessageStep::Forward(const Processing& processing) {
  view_.SetStatusText("Forwarding: " + Subject());
  const AutoMailContext context{CurrentAccount(), CurrentUser(), CurrentRule(),
                                processing.message_number};
  SendAutoForward(message_source_, context, reply_message_, reply_mail_);
}

void TReceivedMessageStep::Print() {
  view_.SetStatusText("Printing: " + Subject());
  if (printer_ == nullptr) throw EPrinterError("No printer is available");
  printer_->PrintReceivedMessage(
      PrintRequestOf(message_source_, CurrentRule(), CurrentRunState().CurrentMessageDate));
}

void TReceivedMessageStep::UpdateAddressBook() {
  view_.SetStatusText("Adding/Removing address: " + Subject());
  const RuleRecord& rule = CurrentRule();
  const int group = rule.AddressGroupId;
  const TmsMailAddress& sender = message_source_.Sender();
  switch (rule.AddressMode) {
    case kAddSender:
      AddAddressToGroup(sender.Name(), sender.Address(), group);
      break;
    case kAddSenderAndRecipients: {
      AddAddressToGroup(sender.Name(), sender.Address(), group);
      const std::string& own_address = CurrentAccount().EMailAddress;
      for (const TmsAddressList* list : {&message_source_.Recipients(), &message_source_.CC()}) {
        for (int i = 0; i < list->Count(); ++i) {
          const TmsMailAddress& entry = list->Items(i);
          if (entry.Address() != own_address) {
            AddAddressToGroup(entry.Name(), entry.Address(), group);
          }
        }
      }
      break;
    }
    case kRemoveSender:
      RemoveAddressFromGroup(sender.Address(), group);
      break;
    default:
      break;
  }
}

void TReceivedMessageStep::SaveAttachments() {
  view_.SetStatusText("Saving Attachments: " + Subject());
  const std::string& directory = CurrentRule().SaveAttachmentsDir;
  for (int i = 0; i < message_source_.Attachments().Count(); ++i) {
    message_source_.SaveAttachment(i, directory);
  }
}

void TReceivedMessageStep::StoreIndexRecord(const Processing& processing) {
  const RunState& run = CurrentRunState();
  const TmsMailAddress& sender = message_source_.Sender();
  StoredMessageValues values;
  values.MessageNumber = processing.message_number;
  values.UserId = run.CurrentUserId;
  values.AccountId = run.CurrentAccountId;
  values.FolderId = processing.folder_id;
  values.MessageFileName = processing.message_file_name;
  values.RecipientsFileName = processing.recipients_file_name;
  values.Subject = Subject();
  values.StatusFlagC = 0;
  values.SenderText = sender.Name() + " <" + sender.Address() + ">";
  values.MessageIdText = run.CurrentMessageId;
  values.MessageDate = run.CurrentMessageDate;
  values.TimeZoneText = processing.zone_text;
  values.StatusFlagB = 1;
  values.StatusFlagA = 0;
  values.MessageSize = run.CurrentMessageSize;
  values.ColourCode = static_cast<std::uint8_t>(processing.colour_code);
  values.Priority = static_cast<std::uint8_t>(processing.priority_code);
  values.HasAttachments = message_source_.Attachments().Count() > 0 ? 1 : 0;
  StoreMessage(values);
}

std::string TReceivedMessageStep::Subject() const { return message_source_.Subject(); }

}  // namespace quillon
