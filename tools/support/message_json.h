// A message as JSON and back, for the tools: the description that
// "mime decode" prints (and "imap fetch-all" per message), and the message
// that "mime encode" and "smtp send" build. 8-bit texts travel as Latin-1
// code points, so every byte survives the trip through JSON.
#pragma once

#include <nlohmann/json.hpp>

#include "mail/message.h"

namespace quillon::tool {

// sender, recipients, cc, bcc, subject, priority, return_receipt,
// content_type, encoding, charset, headers, body, attachments (file_name,
// content_type, transfer_encoding, size, sha256).
nlohmann::ordered_json MessageJson(const TmsMessage& message);

// Fills `message` from the same shape; attachments come from "path" or
// "data_base64". Throws std::runtime_error for an unknown encoding name.
void ReadMessage(const nlohmann::ordered_json& object, TmsMessage& message);

}  // namespace quillon::tool
