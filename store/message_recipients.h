// The recipients file of a decoded message, as the received-message step
// writes it next to the stored message file.
#pragma once

#include <string>

#include "mail/message.h"
#include "store/recipients_file.h"

namespace quillon {

// To, BCC and CC recipients, attachment file names and the sender of
// `message`, in their own order.
RecipientsFileContent RecipientsFileContentOf(const TmsMessage& message);

// Writes the recipients file of `message` at `path` (a file system path,
// e.g. StoredFilePath(RecipientsFileName(...))), replacing an older one.
// Throws EInOutError.
void WriteMessageRecipientsFile(const std::string& path, const TmsMessage& message);

}  // namespace quillon
