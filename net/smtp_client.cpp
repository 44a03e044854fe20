#include "net/smtp_client.h"

#include <algorithm>
#include <optional>

#include "mail/temp_file_stream.h"
#include "net/dot_stuffing.h"
#include "net/net_errors.h"
#include "net/socket_messages.h"
#include "platform/text.h"

namespace quillon {

namespace {

// "Class c": the code's hundreds digit; -1 (no code) is of no class.
bool IsOfClass(int code, int reply_class) {
  return code >= 0 && code / 100 == reply_class;
}

// The keyword of an EHLO reply line ("250-PIPELINING" gives "PIPELINING").
std::string EhloKeyword(const std::string& line) {
  if (line.size() <= 4) return {};
  const std::string rest = line.substr(4);
  return UpperCase(rest.substr(0, rest.find(' ')));
}

}  // namespace

TmsSMTP::TmsSMTP() {
  SetServiceName("smtp");
  SetDefaultPort(25);
}

void TmsSMTP::Open() {
  if (Server().empty()) SocketError(kMsgServerRequired);
  ResetState();
  TmsMailBase::Open();
}

void TmsSMTP::ResetState() {
  TmsMailBase::ResetState();
  server_pipelining_ = false;
}

void TmsSMTP::Command(const std::string& command, int reply_class) {
  SendLine(command);
  if (!IsOfClass(ReadReply(), reply_class)) throw EServerError(LastReply());
}

void TmsSMTP::Login() {
  ConnectSocket();
  if (!IsOfClass(ReadReply(), 2)) throw EServerError(LastReply());
  const TSecurity security = Security();
  if (security == TSecurity::kStartTls || security == TSecurity::kOpportunistic) {
    if (GreetWithStartTls(security == TSecurity::kStartTls)) return;
  } else if (pipelining_allowed_) {
    std::vector<std::string> keywords;
    if (Ehlo(keywords)) return;
  }
  SendLine("HELO " + LocalHostName());
  if (IsOfClass(ReadReply(), 2)) return;
  Command("HELO", 2);
}

bool TmsSMTP::Ehlo(std::vector<std::string>& keywords) {
  keywords.clear();
  server_pipelining_ = false;
  SendLine("EHLO " + LocalHostName());
  std::vector<std::string> lines;
  if (!IsOfClass(ReadReplyLines(lines), 2)) return false;
  // The lines after the first name the extensions, "250-KEYWORD params".
  for (std::size_t i = 1; i < lines.size(); ++i) keywords.push_back(EhloKeyword(lines[i]));
  server_pipelining_ =
      std::find(keywords.begin(), keywords.end(), "PIPELINING") != keywords.end();
  return true;
}

bool TmsSMTP::GreetWithStartTls(bool required) {
  const std::string host = HostPart(Server());
  std::vector<std::string> keywords;
  if (!Ehlo(keywords)) {
    if (required) TlsError("The server " + host + " does not offer STARTTLS: " + LastReply());
    // A server without ESMTP is greeted with HELO, as ever.
    return false;
  }
  if (std::find(keywords.begin(), keywords.end(), "STARTTLS") == keywords.end()) {
    if (required) TlsError("The server " + host + " does not offer STARTTLS");
    return true;
  }
  SendLine("STARTTLS");
  if (!IsOfClass(ReadReply(), 2)) {
    if (required) TlsError("The server " + host + " did not accept STARTTLS: " + LastReply());
    return true;
  }
  StartTls();
  // The session starts afresh under encryption.
  if (!Ehlo(keywords)) throw EServerError(LastReply());
  return true;
}

int TmsSMTP::ReadReplyLines(std::vector<std::string>& lines) {
  const int code = ReadLine();
  lines.push_back(LastReply());
  // "ddd-" goes on; a peer that closed leaves an empty line and ends it.
  while (code > 0 && lines.back().size() >= 4 && lines.back()[3] == '-') {
    if (static_cast<int>(lines.size()) >= kMaxReplyLines) {
      // The rest of the reply cannot be skipped safely.
      Close();
      SocketError(kMsgReplyTooLong);
    }
    ReadLine();
    lines.push_back(LastReply());
  }
  return code;
}

void TmsSMTP::Logout() {
  ProcessMessages();
  Command("QUIT", 2);
}

void TmsSMTP::Send() {
  if (mail_message_ == nullptr) SocketError(kMsgMailMessageRequired);
  TmsMessage& message = *mail_message_;
  message.Validate();
  TTempFileStream message_stream;
  if (OnPrepare) OnPrepare(*this);
  message.SaveToStream(message_stream);
  SendEnvelope(message);
  SendData(message_stream);
  if (OnMailSent) OnMailSent(*this);
}

std::vector<std::string> TmsSMTP::EnvelopeAddresses(const TmsMessage& message) const {
  if (!envelope_recipients_.empty()) {
    return {envelope_recipients_.begin(), envelope_recipients_.end()};
  }
  std::vector<std::string> addresses;
  for (const TmsAddressList* list : {&message.Recipients(), &message.CC(), &message.BCC()}) {
    for (int i = 0; i < list->Count(); ++i) addresses.push_back(list->Items(i).Address());
  }
  return addresses;
}

void TmsSMTP::SendEnvelope(const TmsMessage& message) {
  if (OnSending) OnSending(*this);
  if (server_pipelining_) {
    SendEnvelopeGroup(message);
    return;
  }
  Command("MAIL FROM:<" + message.Sender().Address() + ">", 2);
  for (const std::string& address : EnvelopeAddresses(message)) OfferRecipient(address);
  Command("DATA", 3);
}

void TmsSMTP::SendEnvelopeGroup(const TmsMessage& message) {
  const std::vector<std::string> addresses = EnvelopeAddresses(message);
  std::vector<std::string> group = {"MAIL FROM:<" + message.Sender().Address() + ">"};
  for (const std::string& address : addresses) group.push_back("RCPT TO:<" + address + ">");
  group.push_back("DATA");
  SendLines(group);
  // Every reply of the group is read before any is acted on, so the
  // connection stays in step whatever fails.
  std::vector<std::pair<int, std::string>> replies;
  for (std::size_t i = 0; i < group.size(); ++i) {
    const int code = ReadReply();
    replies.emplace_back(code, LastReply());
  }
  std::optional<std::string> refusal;
  if (!IsOfClass(replies.front().first, 2)) refusal = replies.front().second;
  for (std::size_t i = 0; !refusal && i < addresses.size(); ++i) {
    const auto& [code, reply] = replies[i + 1];
    if (!IsOfClass(code, 2) && !RecipientAccepted(addresses[i], reply)) refusal = reply;
  }
  const auto& [data_code, data_reply] = replies.back();
  if (!refusal && !IsOfClass(data_code, 3)) refusal = data_reply;
  if (!refusal) return;
  // The server waits for the message, which must not go out: only
  // closing without the final "." leaves it undelivered.
  if (IsOfClass(data_code, 3)) Close();
  throw EServerError(*refusal);
}

void TmsSMTP::OfferRecipient(const std::string& address) {
  SendLine("RCPT TO:<" + address + ">");
  if (IsOfClass(ReadReply(), 2)) return;
  if (!RecipientAccepted(address, LastReply())) throw EServerError(LastReply());
}

bool TmsSMTP::RecipientAccepted(const std::string& address, const std::string& reply) {
  bool proceed = false;
  if (OnAddressRejected) OnAddressRejected(*this, address, reply, proceed);
  return proceed;
}

void TmsSMTP::SendData(TStream& message_stream) {
  // The data phase is transparent: lines beginning with "." are stuffed so
  // the server stores exactly what the encoder produced.
  TTempFileStream stuffed;
  DotStuffStream(message_stream, stuffed);
  SendStream(stuffed);
  SendLine("");
  Command(".", 2);
}

}  // namespace quillon
