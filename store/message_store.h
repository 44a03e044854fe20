// The message index (qvMessagesData.mes), the folder index kept parallel to
// it (qvMFolderData.mes), and storing a received message's record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "store/message_names.h"
#include "store/recipients_file.h"

namespace quillon {

inline constexpr char kMessagesFileName[] = "qvMessagesData.mes";
inline constexpr char kFolderIndexFileName[] = "qvMFolderData.mes";

// Header record 0 of the message index.
struct MessageIndexHeader {
  static constexpr std::size_t kRecordCountOffset = 0;
  static constexpr std::size_t kHighestNumberOffset = 4;

  std::int32_t RecordCount = 0;    // record number of the last data record
  std::int32_t HighestNumber = 0;  // highest MessageNumber handed out
};

struct MessageRecord {
  static constexpr std::size_t kSize = 1720;
  static constexpr std::size_t kMessageNumberOffset = 0;
  static constexpr std::size_t kUserIdOffset = 4;
  static constexpr std::size_t kAccountIdOffset = 8;
  static constexpr std::size_t kFolderIdOffset = 12;
  static constexpr std::size_t kMessageDateOffset = 16;
  static constexpr std::size_t kTimeZoneTextOffset = 24;
  static constexpr std::size_t kTimeZoneTextCapacity = 3;
  static constexpr std::size_t kStatusFlagAOffset = 28;
  static constexpr std::size_t kStatusFlagBOffset = 29;
  static constexpr std::size_t kMessageSizeOffset = 32;
  static constexpr std::size_t kHasAttachmentsOffset = 36;
  static constexpr std::size_t kSubjectOffset = 37;
  static constexpr std::size_t kSubjectCapacity = 80;
  static constexpr std::size_t kSenderEntryOffset = 118;
  static constexpr std::size_t kSenderEntryCapacity = 100;
  static constexpr std::size_t kToListOffset = 219;
  static constexpr std::size_t kCcListOffset = 420;
  static constexpr std::size_t kBccListOffset = 621;
  static constexpr std::size_t kAddressListCapacity = 200;
  static constexpr std::size_t kMessageFileNameOffset = 822;
  static constexpr std::size_t kMessageFileNameCapacity = 200;
  static constexpr std::size_t kStatusFlagCOffset = 1023;
  static constexpr std::size_t kRecipientsFileNameOffset = 1024;
  static constexpr std::size_t kRecipientsFileNameCapacity = 100;
  static constexpr std::size_t kSenderTextOffset = 1125;
  static constexpr std::size_t kSenderTextCapacity = 100;
  static constexpr std::size_t kColourCodeOffset = 1226;
  static constexpr std::size_t kPriorityOffset = 1227;
  static constexpr std::size_t kMessageIdTextOffset = 1232;
  static constexpr std::size_t kMessageIdTextCapacity = 80;
  static constexpr std::size_t kStatusFlagDOffset = 1313;
  static constexpr std::size_t kStatusFlagEOffset = 1314;
  static constexpr std::size_t kStatusFlagFOffset = 1315;
  // Length bytes of two texts of the main application, left empty here.
  static constexpr std::size_t kEmptyTextLengthOffset1 = 1377;
  static constexpr std::size_t kEmptyTextLengthOffset2 = 1517;

  std::int32_t MessageNumber = 0;
  std::int32_t UserId = 0;
  std::int32_t AccountId = 0;
  std::int32_t FolderId = 0;
  double MessageDate = 0;  // days since 30 December 1899, local time
  std::string TimeZoneText;
  std::uint8_t StatusFlagA = 0;
  std::uint8_t StatusFlagB = 0;
  std::int32_t MessageSize = 0;
  std::uint8_t HasAttachments = 0;
  std::string Subject;
  std::string SenderEntry;
  std::string ToList;
  std::string CcList;
  std::string BccList;
  std::string MessageFileName;
  std::uint8_t StatusFlagC = 0;
  std::string RecipientsFileName;
  std::string SenderText;
  std::uint8_t ColourCode = 0;
  std::uint8_t Priority = 0;
  std::string MessageIdText;
  std::uint8_t StatusFlagD = 0;
  std::uint8_t StatusFlagE = 0;
  std::uint8_t StatusFlagF = 0;

  static MessageRecord FromBytes(const std::string& record);
  // A fresh record: every byte not listed above is zero, texts are cut.
  std::string ToBytes() const;
};

// One entry of qvMFolderData.mes; entry k belongs to data record k of the
// message index.
struct FolderIndexEntry {
  static constexpr std::size_t kSize = 16;
  static constexpr std::size_t kFolderIdOffset = 0;
  static constexpr std::size_t kMessageNumberOffset = 4;
  static constexpr std::size_t kStatusFlagBOffset = 8;
  static constexpr std::size_t kAccountIdOffset = 12;

  std::int32_t FolderId = 0;
  std::int32_t MessageNumber = 0;
  std::uint8_t StatusFlagB = 0;
  std::int32_t AccountId = 0;

  static FolderIndexEntry FromBytes(const std::string& entry);
  std::string ToBytes() const;
};

// What the received-message step hands to StoreMessage; the defaults are
// the values it always passes.
struct StoredMessageValues {
  std::int32_t MessageNumber = 0;
  std::int32_t UserId = 0;
  std::int32_t AccountId = 0;
  std::int32_t FolderId = -1;
  std::string MessageFileName;
  std::string RecipientsFileName;
  std::string Subject;
  std::uint8_t StatusFlagC = 0;
  std::string SenderText;
  std::string MessageIdText;
  double MessageDate = 0;
  std::string TimeZoneText;
  std::uint8_t StatusFlagB = 1;
  std::uint8_t StatusFlagA = 0;
  std::int32_t MessageSize = 0;
  std::uint8_t ColourCode = 1;
  std::uint8_t Priority = 1;
  std::uint8_t StatusFlagD = 0;
  std::uint8_t StatusFlagE = 0;
  std::uint8_t StatusFlagF = 0;
  std::uint8_t HasAttachments = 0;
};

// The current message record (rebuilt for every message) and the record
// number of the last record appended in this process (0 before any).
MessageRecord& CurrentMessage();
int LastStoredRecordNumber();

// Reads the message index header. Creates the files when missing.
MessageIndexHeader ReadMessageIndexHeader();

// Hands out the next message number: the header's highest number + 1
// (1 for a new store). The number is written back as the highest number
// under the header lock, so no other writer that locks gets it too, even
// when the message's record is appended much later.
int NewMessageNumber();

// Fills the current record from `values`, reads the recipients file named
// by values.RecipientsFileName (lists and sender entry) and appends the
// record. Throws EInOutError.
void StoreMessage(const StoredMessageValues& values);

// Appends the current record at the end of the message index under the
// header lock, with its folder index entry; both are written before the
// header that counts them. Throws EInOutError.
void AppendMessageRecord();

// Whether the last record that the message index's header counts is that
// of message `message_number`: after a failed append, whether the record
// made it. True also when the index cannot be read (then nothing may be
// taken back).
bool IndexEndsWithMessage(int message_number);

// Writes entry `record_number` of qvMFolderData.mes; the file grows with
// zero entries when the position lies beyond its end.
void WriteFolderIndexEntry(int record_number, int folder_id,
                           int message_number, std::uint8_t flag,
                           int account_id);

}  // namespace quillon
