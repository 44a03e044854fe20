#include "net/smtp_client.h"

#include <algorithm>

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

void TmsSMTP::Command(const std::string& command, int reply_class) {
  SendLine(command);
  if (!IsOfClass(ReadReply(), reply_class)) throw EServerError(LastReply());
}

void TmsSMTP::Login() {
  ConnectSocket();
  if (!IsOfClass(ReadReply(), 2)) throw EServerError(LastReply());
  const TSecurity security = Security();
  if ((security == TSecurity::kStartTls || security == TSecurity::kOpportunistic) &&
      GreetWithStartTls(security == TSecurity::kStartTls)) {
    return;
  }
  SendLine("HELO " + LocalHostName());
  if (IsOfClass(ReadReply(), 2)) return;
  Command("HELO", 2);
}

bool TmsSMTP::Ehlo(std::vector<std::string>& keywords) {
  keywords.clear();
  SendLine("EHLO " + LocalHostName());
  const int code = ReadLine();
  if (!IsOfClass(code, 2)) return false;
  // The lines after the first name the extensions, "250-KEYWORD params".
  for (int lines = 1; LastReply().size() > 3 && LastReply()[3] == '-'; ++lines) {
    if (lines >= kMaxReplyLines) SocketError(kMsgReplyTooLong);
    const int line_code = ReadLine();
    if (line_code != code) throw EServerError(LastReply());
    const std::string_view line = LastReply();
    if (line.size() > 4) keywords.push_back(UpperCase(line.substr(4, line.find(' ', 4) - 4)));
  }
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

void TmsSMTP::SendEnvelope(const TmsMessage& message) {
  if (OnSending) OnSending(*this);
  Command("MAIL FROM:<" + message.Sender().Address() + ">", 2);
  if (!envelope_recipients_.empty()) {
    for (const std::string& address : envelope_recipients_) OfferRecipient(address);
  } else {
    for (const TmsAddressList* list :
         {&message.Recipients(), &message.CC(), &message.BCC()}) {
      for (int i = 0; i < list->Count(); ++i) OfferRecipient(list->Items(i).Address());
    }
  }
  Command("DATA", 3);
}

void TmsSMTP::OfferRecipient(const std::string& address) {
  SendLine("RCPT TO:<" + address + ">");
  if (IsOfClass(ReadReply(), 2)) return;
  bool proceed = false;
  if (OnAddressRejected) OnAddressRejected(*this, address, LastReply(), proceed);
  if (!proceed) throw EServerError(LastReply());
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
