#include "store/message_store.h"

#include <limits>
#include <string>
#include <utility>

#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

namespace {

int last_stored_record_number = 0;

std::string MessagesFilePath() {
  return PrepareDataFile(kMessagesFileName, MessageRecord::kSize);
}

RecordFile OpenMessagesFile(const std::string& path) {
  return RecordFile(path, MessageRecord::kSize,
                    ZeroHeader(MessageRecord::kSize));
}

MessageIndexHeader HeaderFromBytes(const std::string& record) {
  MessageIndexHeader header;
  header.RecordCount =
      GetInt32(record, MessageIndexHeader::kRecordCountOffset);
  header.HighestNumber =
      GetInt32(record, MessageIndexHeader::kHighestNumberOffset);
  return header;
}

// Writes the two counters over the header's other bytes, which belong to
// the main application.
void PutHeader(std::string& record, const MessageIndexHeader& header) {
  PutInt32(record, MessageIndexHeader::kRecordCountOffset, header.RecordCount);
  PutInt32(record, MessageIndexHeader::kHighestNumberOffset,
           header.HighestNumber);
}

}  // namespace

MessageRecord MessageRecord::FromBytes(const std::string& r) {
  MessageRecord m;
  m.MessageNumber = GetInt32(r, kMessageNumberOffset);
  m.UserId = GetInt32(r, kUserIdOffset);
  m.AccountId = GetInt32(r, kAccountIdOffset);
  m.FolderId = GetInt32(r, kFolderIdOffset);
  m.MessageDate = GetDouble(r, kMessageDateOffset);
  m.TimeZoneText = GetText(r, kTimeZoneTextOffset, kTimeZoneTextCapacity);
  m.StatusFlagA = GetByte(r, kStatusFlagAOffset);
  m.StatusFlagB = GetByte(r, kStatusFlagBOffset);
  m.MessageSize = GetInt32(r, kMessageSizeOffset);
  m.HasAttachments = GetByte(r, kHasAttachmentsOffset);
  m.Subject = GetText(r, kSubjectOffset, kSubjectCapacity);
  m.SenderEntry = GetText(r, kSenderEntryOffset, kSenderEntryCapacity);
  m.ToList = GetText(r, kToListOffset, kAddressListCapacity);
  m.CcList = GetText(r, kCcListOffset, kAddressListCapacity);
  m.BccList = GetText(r, kBccListOffset, kAddressListCapacity);
  m.MessageFileName =
      GetText(r, kMessageFileNameOffset, kMessageFileNameCapacity);
  m.StatusFlagC = GetByte(r, kStatusFlagCOffset);
  m.RecipientsFileName =
      GetText(r, kRecipientsFileNameOffset, kRecipientsFileNameCapacity);
  m.SenderText = GetText(r, kSenderTextOffset, kSenderTextCapacity);
  m.ColourCode = GetByte(r, kColourCodeOffset);
  m.Priority = GetByte(r, kPriorityOffset);
  m.MessageIdText = GetText(r, kMessageIdTextOffset, kMessageIdTextCapacity);
  m.StatusFlagD = GetByte(r, kStatusFlagDOffset);
  m.StatusFlagE = GetByte(r, kStatusFlagEOffset);
  m.StatusFlagF = GetByte(r, kStatusFlagFOffset);
  return m;
}

std::string MessageRecord::ToBytes() const {
  std::string r(kSize, '\0');
  PutInt32(r, kMessageNumberOffset, MessageNumber);
  PutInt32(r, kUserIdOffset, UserId);
  PutInt32(r, kAccountIdOffset, AccountId);
  PutInt32(r, kFolderIdOffset, FolderId);
  PutDouble(r, kMessageDateOffset, MessageDate);
  PutText(r, kTimeZoneTextOffset, kTimeZoneTextCapacity, TimeZoneText);
  PutByte(r, kStatusFlagAOffset, StatusFlagA);
  PutByte(r, kStatusFlagBOffset, StatusFlagB);
  PutInt32(r, kMessageSizeOffset, MessageSize);
  PutByte(r, kHasAttachmentsOffset, HasAttachments);
  PutText(r, kSubjectOffset, kSubjectCapacity, Subject);
  PutText(r, kSenderEntryOffset, kSenderEntryCapacity, SenderEntry);
  PutText(r, kToListOffset, kAddressListCapacity, ToList);
  PutText(r, kCcListOffset, kAddressListCapacity, CcList);
  PutText(r, kBccListOffset, kAddressListCapacity, BccList);
  PutText(r, kMessageFileNameOffset, kMessageFileNameCapacity,
          MessageFileName);
  PutByte(r, kStatusFlagCOffset, StatusFlagC);
  PutText(r, kRecipientsFileNameOffset, kRecipientsFileNameCapacity,
          RecipientsFileName);
  PutText(r, kSenderTextOffset, kSenderTextCapacity, SenderText);
  PutByte(r, kColourCodeOffset, ColourCode);
  PutByte(r, kPriorityOffset, Priority);
  PutText(r, kMessageIdTextOffset, kMessageIdTextCapacity, MessageIdText);
  PutByte(r, kStatusFlagDOffset, StatusFlagD);
  PutByte(r, kStatusFlagEOffset, StatusFlagE);
  PutByte(r, kStatusFlagFOffset, StatusFlagF);
  PutByte(r, kEmptyTextLengthOffset1, 0);
  PutByte(r, kEmptyTextLengthOffset2, 0);
  return r;
}

FolderIndexEntry FolderIndexEntry::FromBytes(const std::string& entry) {
  FolderIndexEntry e;
  e.FolderId = GetInt32(entry, kFolderIdOffset);
  e.MessageNumber = GetInt32(entry, kMessageNumberOffset);
  e.StatusFlagB = GetByte(entry, kStatusFlagBOffset);
  e.AccountId = GetInt32(entry, kAccountIdOffset);
  return e;
}

std::string FolderIndexEntry::ToBytes() const {
  std::string entry(kSize, '\0');
  PutInt32(entry, kFolderIdOffset, FolderId);
  PutInt32(entry, kMessageNumberOffset, MessageNumber);
  PutByte(entry, kStatusFlagBOffset, StatusFlagB);
  PutInt32(entry, kAccountIdOffset, AccountId);
  return entry;
}

MessageRecord& CurrentMessage() {
  static MessageRecord current;
  return current;
}

int LastStoredRecordNumber() { return last_stored_record_number; }

MessageIndexHeader ReadMessageIndexHeader() {
  RecordFile file = OpenMessagesFile(MessagesFilePath());
  return HeaderFromBytes(file.ReadRequiredRecord(0));
}

int NewMessageNumber() {
  const std::string path = MessagesFilePath();
  HeaderWriteLock lock(path, MessageRecord::kSize);
  RecordFile file = OpenMessagesFile(path);
  std::string header_bytes = file.ReadRequiredRecord(0);
  MessageIndexHeader header = HeaderFromBytes(header_bytes);
  // A file the append would refuse is refused before a number is handed
  // out for it.
  (void)AppendPosition(file, header.RecordCount);
  // Numbers only grow from 0; a negative or exhausted counter is damage,
  // and wrapping it would hand out numbers already in the store.
  if (header.HighestNumber < 0 ||
      header.HighestNumber == std::numeric_limits<std::int32_t>::max()) {
    ThrowDamagedHeader("numbering a message in", path,
                       "highest message number " +
                           std::to_string(header.HighestNumber));
  }
  header.HighestNumber = NextNumber(header.HighestNumber);
  PutHeader(header_bytes, header);
  file.WriteRecord(0, header_bytes);
  file.Close();
  return header.HighestNumber;
}

void AppendMessageRecord() {
  const MessageRecord& message = CurrentMessage();
  const std::string path = MessagesFilePath();
  HeaderWriteLock lock(path, MessageRecord::kSize);
  RecordFile file = OpenMessagesFile(path);
  std::string header_bytes = file.ReadRequiredRecord(0);
  MessageIndexHeader header = HeaderFromBytes(header_bytes);
  // A header whose count does not fit the file is refused before anything
  // is written.
  const std::size_t position = AppendPosition(file, header.RecordCount);
  const auto count = static_cast<std::int32_t>(position);
  header.RecordCount = count;
  if (message.MessageNumber != -1 &&
      message.MessageNumber > header.HighestNumber) {
    header.HighestNumber = message.MessageNumber;
  }
  // The record and its folder index entry before the header that counts
  // them: a failure in between leaves the old count, and the next append
  // writes over both.
  file.WriteRecord(static_cast<std::size_t>(count), message.ToBytes());
  WriteFolderIndexEntry(count, message.FolderId, message.MessageNumber,
                        message.StatusFlagB, message.AccountId);
  PutHeader(header_bytes, header);
  file.WriteRecord(0, header_bytes);
  file.Close();
  last_stored_record_number = count;
}

bool IndexEndsWithMessage(int message_number) {
  try {
    const RecordFile file = OpenMessagesFile(MessagesFilePath());
    const MessageIndexHeader header = HeaderFromBytes(file.ReadRequiredRecord(0));
    if (header.RecordCount < 1) return false;
    std::string record;
    if (!file.ReadRecord(static_cast<std::size_t>(header.RecordCount), record)) {
      return false;
    }
    return MessageRecord::FromBytes(record).MessageNumber == message_number;
  } catch (const EInOutError&) {
    return true;
  }
}

void WriteFolderIndexEntry(int record_number, int folder_id,
                           int message_number, std::uint8_t flag,
                           int account_id) {
  RecordFile file(PrepareDataFile(kFolderIndexFileName, FolderIndexEntry::kSize),
                  FolderIndexEntry::kSize, ZeroHeader(FolderIndexEntry::kSize));
  FolderIndexEntry entry;
  entry.FolderId = folder_id;
  entry.MessageNumber = message_number;
  entry.StatusFlagB = flag;
  entry.AccountId = account_id;
  file.WriteRecord(static_cast<std::size_t>(record_number), entry.ToBytes());
  file.Close();
}

void StoreMessage(const StoredMessageValues& values) {
  MessageRecord record;
  record.MessageNumber = values.MessageNumber;
  record.UserId = values.UserId;
  record.AccountId = values.AccountId;
  record.FolderId = values.FolderId;
  record.MessageDate = values.MessageDate;
  record.TimeZoneText = values.TimeZoneText;
  record.StatusFlagA = values.StatusFlagA;
  record.StatusFlagB = values.StatusFlagB;
  record.MessageSize = values.MessageSize;
  record.HasAttachments = values.HasAttachments;
  record.Subject = values.Subject;
  record.MessageFileName = values.MessageFileName;
  record.StatusFlagC = values.StatusFlagC;
  record.RecipientsFileName = values.RecipientsFileName;
  record.SenderText = values.SenderText;
  record.ColourCode = values.ColourCode;
  record.Priority = values.Priority;
  record.MessageIdText = values.MessageIdText;
  record.StatusFlagD = values.StatusFlagD;
  record.StatusFlagE = values.StatusFlagE;
  record.StatusFlagF = values.StatusFlagF;
  RecipientsSummary recipients =
      ReadRecipientsFile(StoredFilePath(values.RecipientsFileName));
  record.ToList = std::move(recipients.ToList);
  record.CcList = std::move(recipients.CcList);
  record.BccList = std::move(recipients.BccList);
  record.SenderEntry = std::move(recipients.SenderEntry);
  CurrentMessage() = std::move(record);
  AppendMessageRecord();
}

}  // namespace quillon
