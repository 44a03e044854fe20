#include "store/account_record.h"

#include <stdexcept>

#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

namespace al = account_layout;

namespace {

void CheckSize(const std::string& record, std::size_t size, const char* what) {
  if (record.size() != size) {
    throw std::invalid_argument(std::string(what) + " of " +
                                std::to_string(record.size()) +
                                " bytes; expected " + std::to_string(size));
  }
}

}  // namespace

AccountRecord AccountRecord::FromBytes(const std::string& record) {
  CheckSize(record, al::kRecordSize, "account record");
  AccountRecord account;
  account.bytes = record;
  account.Id = GetInt32(record, al::kId);
  account.UserId = GetInt32(record, al::kUserId);
  account.EMailAddress =
      GetText(record, al::kEMailAddress, al::kEMailAddressCapacity);
  account.ReplyToAddress =
      GetText(record, al::kReplyToAddress, al::kReplyToAddressCapacity);
  account.SenderName =
      GetText(record, al::kSenderName, al::kSenderNameCapacity);
  account.IsImap = GetByte(record, al::kIsImap) != 0;
  account.ImapHost = GetText(record, al::kImapHost, al::kImapHostCapacity);
  account.SmtpHost = GetText(record, al::kSmtpHost, al::kSmtpHostCapacity);
  account.ImapUser = GetText(record, al::kImapUser, al::kImapUserCapacity);
  account.ImapPassword =
      GetText(record, al::kImapPassword, al::kImapPasswordCapacity);
  account.SmtpTimeOut = GetInt32(record, al::kSmtpTimeOut);
  account.EightBitCharset = GetByte(record, al::kEightBitCharset) != 0;
  return account;
}

std::string AccountRecord::ToBytes() const {
  std::string record = bytes;
  record.resize(al::kRecordSize, '\0');
  PutInt32(record, al::kId, Id);
  PutInt32(record, al::kUserId, UserId);
  PutText(record, al::kEMailAddress, al::kEMailAddressCapacity, EMailAddress);
  PutText(record, al::kReplyToAddress, al::kReplyToAddressCapacity,
          ReplyToAddress);
  PutText(record, al::kSenderName, al::kSenderNameCapacity, SenderName);
  // A stored true that is not 1 stays as it was.
  if ((GetByte(record, al::kIsImap) != 0) != IsImap) {
    PutByte(record, al::kIsImap, IsImap ? 1 : 0);
  }
  PutText(record, al::kImapHost, al::kImapHostCapacity, ImapHost);
  PutText(record, al::kSmtpHost, al::kSmtpHostCapacity, SmtpHost);
  PutText(record, al::kImapUser, al::kImapUserCapacity, ImapUser);
  PutText(record, al::kImapPassword, al::kImapPasswordCapacity, ImapPassword);
  PutInt32(record, al::kSmtpTimeOut, SmtpTimeOut);
  if ((GetByte(record, al::kEightBitCharset) != 0) != EightBitCharset) {
    PutByte(record, al::kEightBitCharset, EightBitCharset ? 1 : 0);
  }
  return record;
}

AccountRecord& CurrentAccount() {
  static AccountRecord current;
  return current;
}

void ReadAccount(int id) {
  AccountRecord& current = CurrentAccount();
  std::string record;
  bool found = false;
  try {
    found = LookUpRecordById(kAccountsFileName, al::kRecordSize, id, record);
  } catch (const EInOutError&) {
    // A failed lookup never leaves an earlier id that could pass for success.
    current.Id = -1;
    throw;
  }
  if (found) {
    current = AccountRecord::FromBytes(record);
  } else {
    current.Id = -1;
  }
}

}  // namespace quillon
