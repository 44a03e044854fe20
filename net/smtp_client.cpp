#include "net/smtp_client.h"

#include "mail/temp_file_stream.h"
#include "net/dot_stuffing.h"
#include "net/net_errors.h"
#include "net/socket_messages.h"

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
  SendLine("HELO " + LocalHostName());
  if (IsOfClass(ReadReply(), 2)) return;
  Command("HELO", 2);
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
