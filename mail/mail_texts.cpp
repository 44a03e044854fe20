#include "mail/mail_texts.h"

#include <array>
#include <utility>

namespace quillon {

namespace {

constexpr std::array<std::pair<int, const char*>, 13> kMailTexts{{
    {kSenderRequiredText, "The address of sender is required"},
    {kRecipientRequiredText, "At least one Recipient, CC or BCC must be entered"},
    {kMailMessageRequiredText, "MailMessage property must be assigned"},
    {kUserNameRequiredText, "UserName property is required"},
    {kPasswordRequiredText, "Password property is required"},
    {kMultipartPreambleText, "This is a multipart message in MIME format"},
    {kUnableToRetrieveHeadersText, "Unable to retrieve headers"},
    {kMissingContentTypeText, "Missing required field: Content-Type"},
    {kClosingBoundaryNotFoundText, "Cannot find closing boundary"},
    {kBoundaryNotFoundText, "Cannot find boundary"},
    {kAttachmentDecodingText, "Error decoding the attachment"},
    {kNewsgroupRequiredText, "Newsgroup header is required"},
    {kSubjectRequiredText, "Subject header is required"},
}};

}  // namespace

std::string MailText(int id) {
  for (const auto& [number, text] : kMailTexts) {
    if (number == id) return text;
  }
  return {};
}

}  // namespace quillon
