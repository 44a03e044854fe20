// The mail layer's numbered messages (57100 to 57118).
#pragma once

#include <string>

namespace quillon {

inline constexpr int kSenderRequiredText = 57100;
inline constexpr int kRecipientRequiredText = 57101;
inline constexpr int kMailMessageRequiredText = 57102;
inline constexpr int kUserNameRequiredText = 57103;
inline constexpr int kPasswordRequiredText = 57104;
inline constexpr int kMultipartPreambleText = 57106;
inline constexpr int kUnableToRetrieveHeadersText = 57107;
inline constexpr int kMissingContentTypeText = 57108;
inline constexpr int kClosingBoundaryNotFoundText = 57109;
inline constexpr int kBoundaryNotFoundText = 57110;
inline constexpr int kAttachmentDecodingText = 57111;
inline constexpr int kNewsgroupRequiredText = 57115;
inline constexpr int kSubjectRequiredText = 57116;

// The text of a mail-layer message number; empty for a number without one.
std::string MailText(int id);

}  // namespace quillon
