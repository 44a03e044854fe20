#include "rules/reply_forward.h"

#include <exception>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "net/net_errors.h"
#include "platform/text.h"
#include "rules/received_message.h"
#include "rules/run_state.h"
#include "store/address_record.h"

namespace quillon {

namespace {

constexpr std::size_t kOrganizationLineLength = 64;
constexpr std::size_t kReplyToLineLength = 110;
constexpr char kAutoField[] = "QVN-Auto";
constexpr char kReplyMark[] = "QVN4-REPLY";
constexpr char kForwardMark[] = "QVN4-FORWARD";

// The field name of a header line, or empty for a continuation line or a
// line without a colon.
std::string_view FieldNameOf(std::string_view line) {
  if (line.empty() || line.front() == ' ' || line.front() == '\t') return {};
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  return line.substr(0, colon);
}

// The value of a one-line header field, without continuation lines (the
// marks this module writes never continue).
std::string_view FieldValueOf(std::string_view line) {
  return line.substr(line.find(':') + 1);
}

bool HasField(const TmsHeaders& headers, std::string_view name) {
  for (const std::string& line : headers) {
    if (SameText(Trim(FieldNameOf(line)), name)) return true;
  }
  return false;
}

int CountFieldValue(const TmsHeaders& headers, std::string_view name,
                    std::string_view value) {
  int count = 0;
  for (const std::string& line : headers) {
    if (SameText(Trim(FieldNameOf(line)), name) &&
        SameText(Trim(FieldValueOf(line)), value)) {
      ++count;
    }
  }
  return count;
}

// The first token of a structured value ("auto-replied; x=y" gives
// "auto-replied").
std::string FirstToken(const std::string& value) {
  return Trim(std::string_view(value).substr(0, value.find(';')));
}

bool IsAutomaticMessage(const TmsHeaders& headers) {
  const std::string auto_submitted = FirstToken(headers.GetFieldValue("Auto-Submitted"));
  if (!auto_submitted.empty() && !SameText(auto_submitted, "no")) return true;
  if (HasField(headers, "Auto-Submitted") && auto_submitted.empty()) return true;
  return HasField(headers, kAutoField);
}

bool IsListMessage(const TmsHeaders& headers) {
  const std::string precedence = FirstToken(headers.GetFieldValue("Precedence"));
  for (const char* kind : {"bulk", "list", "junk"}) {
    if (SameText(precedence, kind)) return true;
  }
  return HasField(headers, "List-Id") || HasField(headers, "List-Unsubscribe");
}

bool IsUnanswerableSender(const std::string& address) {
  const std::string trimmed = Trim(address);
  if (trimmed.empty()) return true;
  const std::string local_part = trimmed.substr(0, trimmed.rfind('@'));
  return SameText(local_part, "MAILER-DAEMON") || SameText(local_part, "postmaster");
}

// The lines both replies and forwards carry: organisation, reply address,
// the number of the message that caused it and the automatic mark.
void AddAutoHeaders(TmsHeaders& headers, const AutoMailContext& context,
                    const char* mark) {
  headers.push_back(
      Cut(HeaderSafe("Organization: " + context.user.Organization), kOrganizationLineLength));
  headers.push_back(
      Cut(HeaderSafe("Reply-To: " + context.account.ReplyToAddress), kReplyToLineLength));
  headers.push_back("Local-Message: " + std::to_string(context.message_number));
  headers.push_back(std::string(kAutoField) + ": " + mark);
  if (std::string_view(mark) == kReplyMark) headers.push_back("Auto-Submitted: auto-replied");
  headers.push_back("X-mailer: " + Trim(kProductText));
}

TCharSet AccountCharSet(const AccountRecord& account) {
  return account.EightBitCharset ? TCharSet::csISO8859 : TCharSet::csUSASCII;
}

void PrepareClient(TmsSMTP& reply_mail, TmsMessage& reply_message,
                   const AccountRecord& account) {
  reply_mail.SetServer(account.SmtpHost);
  reply_mail.SetTimeOut(account.SmtpTimeOut);
  reply_mail.SetSecurity(ReplySecurity(account.SmtpHost));
  reply_mail.SetMailMessage(&reply_message);
}

void ConnectInClear(TmsSMTP& reply_mail) {
  try {
    reply_mail.Connect();
  } catch (...) {
    reply_mail.Close();
    throw;
  }
}

// Connect, Send, Disconnect. A connection that failed half-way is closed
// without QUIT, so the next reply or forward starts a fresh one instead of
// finding the client still "connected" to a dead or refusing server.
void Deliver(TmsSMTP& reply_mail) {
  try {
    reply_mail.Connect();
  } catch (const ETlsError&) {
    reply_mail.Close();
    if (reply_mail.Security() != TSecurity::kOpportunistic) throw;
    // STARTTLS was offered but its certificate or handshake failed: the
    // reply goes in clear text, as a mail server would send it.
    reply_mail.SetSecurity(TSecurity::kNone);
    ConnectInClear(reply_mail);
  } catch (...) {
    reply_mail.Close();
    throw;
  }
  try {
    reply_mail.Send();
  } catch (...) {
    try {
      reply_mail.Disconnect();
    } catch (...) {
      // The send failure is the one that counts.
    }
    reply_mail.Close();
    throw;
  }
  try {
    reply_mail.Disconnect();
  } catch (...) {
    reply_mail.Close();
    throw;
  }
}

bool IsExistingFile(const std::string& name) {
  std::error_code error;
  return !name.empty() && std::filesystem::is_regular_file(name, error);
}

void ComposeReply(const TmsMessage& received, const AutoMailContext& context,
                  TmsMessage& reply) {
  reply.Clear();
  reply.Body().LoadFromFile(context.rule.ReplyTextFile);
  reply.SetSubject(HeaderSafe(context.rule.ReplySubject));
  reply.SetPriority(TPriority::ptNormal);
  reply.SetReturnReceipt(false);
  reply.Sender().SetName(HeaderSafe(context.account.SenderName));
  reply.Sender().SetAddress(HeaderSafe(context.account.EMailAddress));
  reply.Recipients().AddAddress(HeaderSafe(received.Sender().Address()),
                                HeaderSafe(received.Sender().Name()));
  AddAutoHeaders(reply.Headers(), context, kReplyMark);
  reply.SetCharSet(AccountCharSet(context.account));
  for (const std::string& attachment : context.rule.ReplyAttachment) {
    if (IsExistingFile(attachment)) reply.Attachments().AddFile(attachment);
  }
}

void AddForwardRecipients(const RuleRecord& rule, TmsMessage& forward) {
  if (rule.ForwardToGroup == 0) {
    forward.Recipients().AddAddress(HeaderSafe(rule.ForwardAddress),
                                    HeaderSafe(rule.ForwardName));
    return;
  }
  for (const AddressRecord& entry : AddressesInGroup(rule.ForwardGroupId)) {
    forward.BCC().AddAddress(HeaderSafe(entry.EntryAddress), HeaderSafe(entry.EntryName));
  }
}

void ComposeForward(const AutoMailContext& context, TmsMessage& forward) {
  forward.SetPriority(TPriority::ptNormal);
  forward.SetReturnReceipt(false);
  forward.Recipients().Clear();
  forward.CC().Clear();
  forward.BCC().Clear();
  // The copy's own texts came from a foreign message; decoded words may
  // hold line breaks.
  forward.Sender().SetName(HeaderSafe(forward.Sender().Name()));
  forward.Sender().SetAddress(HeaderSafe(forward.Sender().Address()));
  forward.SetSubject(HeaderSafe(forward.Subject()));
  AddForwardRecipients(context.rule, forward);
  AddAutoHeaders(forward.Headers(), context, kForwardMark);
  forward.SetCharSet(AccountCharSet(context.account));
}

}  // namespace

std::string HeaderSafe(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

bool AutoReplySuppressed(const TmsMessage& received) {
  return IsAutomaticMessage(received.Headers()) || IsListMessage(received.Headers()) ||
         IsUnanswerableSender(received.Sender().Address());
}

bool AutoForwardSuppressed(const TmsMessage& received) {
  return CountFieldValue(received.Headers(), kAutoField, kForwardMark) >= kMaxForwardHops;
}

bool SendAutoReply(const TmsMessage& received, const AutoMailContext& context,
                   TmsMessage& reply_message, TmsSMTP& reply_mail) {
  PrepareClient(reply_mail, reply_message, context.account);
  try {
    if (AutoReplySuppressed(received)) return false;
    ComposeReply(received, context, reply_message);
    Deliver(reply_mail);
    return true;
  } catch (const std::exception&) {
    // A reply is a courtesy: whatever keeps it from going out must not
    // keep the received message from being stored.
    return false;
  }
}

bool SendAutoForward(const TmsMessage& received, const AutoMailContext& context,
                     TmsMessage& reply_message, TmsSMTP& reply_mail) {
  reply_message.Assign(received);
  PrepareClient(reply_mail, reply_message, context.account);
  try {
    if (AutoForwardSuppressed(received)) return false;
    ComposeForward(context, reply_message);
    Deliver(reply_mail);
    return true;
  } catch (const std::exception&) {
    // As for replies: the received message is processed further.
    return false;
  }
}

}  // namespace quillon
