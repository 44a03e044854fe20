// The SMTP client (RFC 821 commands HELO, MAIL FROM, RCPT TO, DATA, QUIT):
// sends one message over an open connection. Connect = Open + Login (the
// greeting and HELO), Disconnect = Logout (QUIT) + Close.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mail/message.h"
#include "net/mail_base.h"
#include "platform/string_list.h"

namespace quillon {

// Fired for a refused recipient; setting `proceed` goes on with the next.
using TmsAddressRejectedEvent =
    std::function<void(TagSocket& sender, const std::string& the_address,
                       const std::string& server_reply, bool& proceed)>;

class TmsSMTP : public TmsMailBase {
 public:
  TmsSMTP();

  // The message to send; not owned. The owner clears it before freeing it.
  TmsMessage* MailMessage() const { return mail_message_; }
  void SetMailMessage(TmsMessage* message) { mail_message_ = message; }
  // When it has entries they replace the message's recipient lists in the
  // envelope. Empty after construction.
  TStringList& EnvelopeRecipients() { return envelope_recipients_; }

  TNotifyEvent OnPrepare;    // before the message is encoded
  TNotifyEvent OnSending;    // before the envelope is sent
  TNotifyEvent OnMailSent;   // after the server accepted the message
  TmsAddressRejectedEvent OnAddressRejected;

  // Requires Server; ResetState; the socket's Open.
  void Open() override;
  // Connects, reads the greeting, says HELO (with the local host name, then
  // bare when refused).
  void Login() override;
  void Logout() override;

  // Sends MailMessage: envelope, then the encoded message, dot-stuffed.
  void Send();

 private:
  // Sends `command`; unless the reply is of `reply_class` (2xx, 3xx),
  // EServerError with the last reply line.
  void Command(const std::string& command, int reply_class);
  // EHLO; false when the server does not take it. `keywords`: the
  // extensions it names, upper-cased.
  bool Ehlo(std::vector<std::string>& keywords);
  // EHLO, STARTTLS, the handshake and EHLO again. Where the server offers
  // no STARTTLS, `required` fails and otherwise the session goes on in
  // clear text. False when the server still needs its HELO greeting.
  bool GreetWithStartTls(bool required);
  void SendEnvelope(const TmsMessage& message);
  void OfferRecipient(const std::string& address);
  void SendData(TStream& message_stream);

  TmsMessage* mail_message_ = nullptr;
  TStringList envelope_recipients_;
};

}  // namespace quillon
