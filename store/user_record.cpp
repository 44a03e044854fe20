#include "store/user_record.h"

#include <stdexcept>

#include "store/data_file.h"
#include "store/record_bytes.h"
#include "store/record_file.h"

namespace quillon {

namespace ul = user_layout;

UserRecord UserRecord::FromBytes(const std::string& record) {
  if (record.size() != ul::kRecordSize) {
    throw std::invalid_argument(
        "user record of " + std::to_string(record.size()) +
        " bytes; expected " + std::to_string(ul::kRecordSize));
  }
  UserRecord user;
  user.bytes = record;
  user.Id = GetInt32(record, ul::kId);
  user.UserName = GetText(record, ul::kUserName, ul::kUserNameCapacity);
  user.Organization =
      GetText(record, ul::kOrganization, ul::kOrganizationCapacity);
  return user;
}

std::string UserRecord::ToBytes() const {
  std::string record = bytes;
  record.resize(ul::kRecordSize, '\0');
  PutInt32(record, ul::kId, Id);
  PutText(record, ul::kUserName, ul::kUserNameCapacity, UserName);
  PutText(record, ul::kOrganization, ul::kOrganizationCapacity, Organization);
  return record;
}

UserRecord& CurrentUser() {
  static UserRecord current;
  return current;
}

void ReadUser(int id) {
  UserRecord& current = CurrentUser();
  std::string record;
  bool found = false;
  try {
    found = LookUpRecordById(kUsersFileName, ul::kRecordSize, id, record);
  } catch (const EInOutError&) {
    current.Id = -1;
    throw;
  }
  if (found) {
    current = UserRecord::FromBytes(record);
  } else {
    current.Id = -1;
  }
}

}  // namespace quillon
