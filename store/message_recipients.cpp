#include "store/message_recipients.h"

namespace quillon {

namespace {

std::vector<RecipientAddress> AddressesOf(const TmsAddressList& list) {
  std::vector<RecipientAddress> addresses;
  for (int i = 0; i < list.Count(); ++i) {
    addresses.push_back({list.Items(i).Address(), list.Items(i).Name()});
  }
  return addresses;
}

}  // namespace

RecipientsFileContent RecipientsFileContentOf(const TmsMessage& message) {
  RecipientsFileContent content;
  content.To = AddressesOf(message.Recipients());
  content.Bcc = AddressesOf(message.BCC());
  content.Cc = AddressesOf(message.CC());
  for (int i = 0; i < message.Attachments().Count(); ++i) {
    content.AttachmentFileNames.push_back(message.Attachments().Items(i).FileName());
  }
  content.Sender = {message.Sender().Address(), message.Sender().Name()};
  return content;
}

void WriteMessageRecipientsFile(const std::string& path, const TmsMessage& message) {
  WriteRecipientsFile(path, RecipientsFileContentOf(message));
}

}  // namespace quillon
