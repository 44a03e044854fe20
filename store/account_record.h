// The accounts file "qvAccountsData.act": fixed records of 2584 bytes written
// by the main application, record 0 a header. The program keeps the one
// account of its run as the process-wide current account.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

// Field offsets and text capacities (room minus the length byte).
namespace account_layout {
inline constexpr std::size_t kRecordSize = 2584;
inline constexpr std::size_t kId = 0;
inline constexpr std::size_t kUserId = 4;
inline constexpr std::size_t kEMailAddress = 8;
inline constexpr std::size_t kEMailAddressCapacity = 100;
inline constexpr std::size_t kReplyToAddress = 109;
inline constexpr std::size_t kReplyToAddressCapacity = 100;
inline constexpr std::size_t kSenderName = 210;
inline constexpr std::size_t kSenderNameCapacity = 50;
inline constexpr std::size_t kIsImap = 261;
inline constexpr std::size_t kImapHost = 262;
inline constexpr std::size_t kImapHostCapacity = 100;
inline constexpr std::size_t kSmtpHost = 363;
inline constexpr std::size_t kSmtpHostCapacity = 100;
inline constexpr std::size_t kImapUser = 464;
inline constexpr std::size_t kImapUserCapacity = 100;
inline constexpr std::size_t kImapPassword = 565;
inline constexpr std::size_t kImapPasswordCapacity = 106;
inline constexpr std::size_t kSmtpTimeOut = 672;
inline constexpr std::size_t kReservedMain = 676;  // 1547 bytes, not ours
inline constexpr std::size_t kEightBitCharset = 2223;
inline constexpr std::size_t kReservedTail = 2224;  // 360 bytes, not ours
}  // namespace account_layout

struct AccountRecord {
  // The whole record as read; the reserved ranges are kept as they were.
  std::string bytes = std::string(account_layout::kRecordSize, '\0');

  std::int32_t Id = 0;
  std::int32_t UserId = 0;
  std::string EMailAddress;
  std::string ReplyToAddress;
  std::string SenderName;
  bool IsImap = false;
  std::string ImapHost;
  std::string SmtpHost;
  std::string ImapUser;
  std::string ImapPassword;
  std::int32_t SmtpTimeOut = 0;
  bool EightBitCharset = false;

  // `record` must be kRecordSize bytes (std::invalid_argument otherwise).
  static AccountRecord FromBytes(const std::string& record);
  // The fields written over `bytes`; texts longer than their room are cut.
  std::string ToBytes() const;
};

inline constexpr char kAccountsFileName[] = "qvAccountsData.act";

// The current account of the run; all zero at start.
AccountRecord& CurrentAccount();

// Makes the current account the first data record whose Id is `id`. When
// none matches, only the current Id changes (to -1). A missing file is
// created with its header record. Throws EInOutError (store/record_file.h)
// when the file cannot be created, opened or read, including a file too
// short to hold its header record.
void ReadAccount(int id);

}  // namespace quillon
