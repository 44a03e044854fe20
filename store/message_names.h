// Names of the files that hold a stored message: the relative names the
// message index records (with a backslash, as the main application reads
// them) and where those files lie on disk (under "In/" of the data
// directory).
#pragma once

#include <string>

namespace quillon {

inline constexpr char kStoredMessagesFolder[] = "In";

// "In\M" + n + "!A" + a + "!U" + u + "!.eml"
std::string MessageFileName(int message_number, int account_id, int user_id);
// "In\M" + n + "!A" + a + "!U" + u + "!.rcv"
std::string RecipientsFileName(int message_number, int account_id,
                               int user_id);

// Data directory + `stored_name` with its backslashes turned into "/".
std::string StoredFilePath(const std::string& stored_name);

}  // namespace quillon
