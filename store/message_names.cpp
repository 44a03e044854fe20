#include "store/message_names.h"

#include <algorithm>

#include "platform/data_dir.h"

namespace quillon {

namespace {

std::string StoredName(int message_number, int account_id, int user_id,
                       const char* extension) {
  return std::string(kStoredMessagesFolder) + "\\M" +
         std::to_string(message_number) + "!A" + std::to_string(account_id) +
         "!U" + std::to_string(user_id) + "!" + extension;
}

}  // namespace

std::string MessageFileName(int message_number, int account_id, int user_id) {
  return StoredName(message_number, account_id, user_id, ".eml");
}

std::string RecipientsFileName(int message_number, int account_id,
                               int user_id) {
  return StoredName(message_number, account_id, user_id, ".rcv");
}

std::string StoredFilePath(const std::string& stored_name) {
  std::string relative = stored_name;
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return DataDirectory() + relative;
}

}  // namespace quillon
