// The users file "qvUsersData.usr": fixed records of 1188 bytes written by
// the main application, record 0 a header. The owner of the run's account is
// kept as the process-wide current user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

namespace user_layout {
inline constexpr std::size_t kRecordSize = 1188;
inline constexpr std::size_t kId = 0;
inline constexpr std::size_t kUserName = 4;
inline constexpr std::size_t kUserNameCapacity = 141;
inline constexpr std::size_t kOrganization = 146;
// The room is 1042 bytes, but one length byte cannot count past 255.
inline constexpr std::size_t kOrganizationCapacity = 255;
}  // namespace user_layout

struct UserRecord {
  // The whole record as read; bytes after the organisation are kept.
  std::string bytes = std::string(user_layout::kRecordSize, '\0');

  std::int32_t Id = 0;
  std::string UserName;
  std::string Organization;

  // `record` must be kRecordSize bytes (std::invalid_argument otherwise).
  static UserRecord FromBytes(const std::string& record);
  std::string ToBytes() const;
};

inline constexpr char kUsersFileName[] = "qvUsersData.usr";

// The current user of the run; all zero at start.
UserRecord& CurrentUser();

// As ReadAccount, for the users file.
void ReadUser(int id);

}  // namespace quillon
