// Automatic replies and forwards of a received message: composing them in
// the status window's reply message and sending them with its SMTP client.
// Every failure while composing or sending is swallowed, so a broken
// mail server or a missing reply text never stops the processing of the
// received message.
#pragma once

#include <string>

#include "mail/message.h"
#include "net/smtp_client.h"
#include "store/account_record.h"
#include "store/rule_record.h"
#include "store/user_record.h"

namespace quillon {

// What a reply or forward needs besides the received message.
struct AutoMailContext {
  const AccountRecord& account;
  const UserRecord& user;
  const RuleRecord& rule;
  int message_number = 0;  // of the received message, for "Local-Message:"
};

// A forward is dropped when the received message has already been
// forwarded this often by this or another copy of the program.
inline constexpr int kMaxForwardHops = 3;

// `text` with CR and LF turned into blanks, so that a value copied into a
// header line cannot start a header line of its own.
std::string HeaderSafe(std::string text);

// True when an automatic reply to `received` must not be sent: it is
// itself automatic (Auto-Submitted other than "no", a "QVN-Auto:" line),
// comes from a mailing list (Precedence bulk, list or junk, List-Id,
// List-Unsubscribe), or has no sender to answer (empty address, the
// MAILER-DAEMON or postmaster mailbox).
bool AutoReplySuppressed(const TmsMessage& received);

// True when `received` already carries kMaxForwardHops or more
// "QVN-Auto: QVN4-FORWARD" lines.
bool AutoForwardSuppressed(const TmsMessage& received);

// Sends the rule's reply to the sender of `received`. Returns true when the
// server took it; false when it was suppressed or failed.
bool SendAutoReply(const TmsMessage& received, const AutoMailContext& context,
                   TmsMessage& reply_message, TmsSMTP& reply_mail);

// Sends a copy of `received` (its sender, subject, headers, body and
// attachments) to the rule's forward address or, as BCC, to the members of
// the rule's address-book group. Returns true when the server took it.
bool SendAutoForward(const TmsMessage& received, const AutoMailContext& context,
                     TmsMessage& reply_message, TmsSMTP& reply_mail);

}  // namespace quillon
