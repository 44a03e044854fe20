// The recipients file of a stored message ("!.rcv"): one line per To, BCC
// and CC recipient, attachment and the sender, with the fields of a line
// separated by the byte 0xB7. Also the field splitting used on such lines
// and on attachment lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The middle dot of the ANSI code page.
inline constexpr char kRecipientSeparator = '\xB7';

inline constexpr char kToTag[] = "RC:";
inline constexpr char kBccTag[] = "BC:";
inline constexpr char kCcTag[] = "CC:";
inline constexpr char kAttachmentTag[] = "AT:";
inline constexpr char kSenderTag[] = "SE:";

struct RecipientAddress {
  std::string Address;
  std::string Name;
};

struct RecipientsFileContent {
  std::vector<RecipientAddress> To;
  std::vector<RecipientAddress> Bcc;
  std::vector<RecipientAddress> Cc;
  std::vector<std::string> AttachmentFileNames;
  RecipientAddress Sender;
};

// The file's text: To, BCC, CC, attachment and sender lines in that order,
// each ended by CR LF; an address line is tag + address + S + name + S +
// "-1".
std::string FormatRecipientsText(const RecipientsFileContent& content);

// Writes the recipients file at `path`, replacing an older one. Throws
// EInOutError.
void WriteRecipientsFile(const std::string& path,
                         const RecipientsFileContent& content);

// What the message index takes from a recipients file: the three address
// list texts (entries name + " <" + address + ">" joined by "|", not yet
// cut to their field's capacity) and the sender entry.
struct RecipientsSummary {
  std::string ToList;
  std::string CcList;
  std::string BccList;
  std::string SenderEntry;
};

RecipientsSummary SummarizeRecipientsText(std::string_view text);
// Reads and summarises the file at `path`. Throws EInOutError (a missing
// file too).
RecipientsSummary ReadRecipientsFile(const std::string& path);

// Trailing blanks removed, the number of fields: 0 for an empty text, else
// 1 + the number of separators.
int FieldCount(std::string_view text, char separator);
// Field `index` (from 1) of `text`: the characters after the (index - 1)-th
// separator up to the next one or the end; empty when index is 0 or beyond
// FieldCount. The last field keeps trailing blanks.
std::string GetField(std::uint16_t index, std::string_view text,
                     char separator);

}  // namespace quillon
