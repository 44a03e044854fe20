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

  // Whether Login may greet with EHLO to learn of PIPELINING (RFC 2920).
  // Off: HELO, and one command at a time.
  bool PipeliningAllowed() const { return pipelining_allowed_; }
  void SetPipeliningAllowed(bool allowed) { pipelining_allowed_ = allowed; }
  // The server's EHLO answer listed PIPELINING: Send sends MAIL FROM, the
  // RCPT TOs and DATA as one group and then checks the replies in order.
  bool ServerPipelining() const { return server_pipelining_; }

  // Requires Server; ResetState; the socket's Open.
  void Open() override;
  void ResetState() override;
  // Connects, reads the greeting, says HELO (with the local host name, then
  // bare when refused); EHLO first when pipelining is allowed, HELO after
  // it only when EHLO is refused.
  void Login() override;
  void Logout() override;

  // Sends MailMessage: envelope, then the encoded message, dot-stuffed.
  void Send();

 private:
  // Sends `command`; unless the reply is of `reply_class` (2xx, 3xx),
  // EServerError with the last reply line.
  void Command(const std::string& command, int reply_class);
  // EHLO; false when the server does not take it. `keywords`: the
  // extensions it names, upper-cased; PIPELINING among them is noted.
  bool Ehlo(std::vector<std::string>& keywords);
  // EHLO, STARTTLS, the handshake and EHLO again. Where the server offers
  // no STARTTLS, `required` fails and otherwise the session goes on in
  // clear text. False when the server still needs its HELO greeting.
  bool GreetWithStartTls(bool required);
  // Every line of one reply; returns the first line's code.
  int ReadReplyLines(std::vector<std::string>& lines);
  std::vector<std::string> EnvelopeAddresses(const TmsMessage& message) const;
  void SendEnvelope(const TmsMessage& message);
  void SendEnvelopeGroup(const TmsMessage& message);
  void OfferRecipient(const std::string& address);
  // A refused recipient: true when OnAddressRejected lets the message go on.
  bool RecipientAccepted(const std::string& address, const std::string& reply);
  void SendData(TStream& message_stream);

  TmsMessage* mail_message_ = nullptr;
  TStringList envelope_recipients_;
  bool pipelining_allowed_ = false;
  bool server_pipelining_ = false;
};

}  // namespace quillon
