// TmsMailBase: the common base of the POP3, SMTP and IMAP4 clients. It adds
// the connection life cycle to TagSocket: Connect = Open + Login,
// Disconnect = Logout + Close.
#pragma once

#include "net/socket.h"

namespace quillon {

class TmsMailBase : public TagSocket {
 public:
  // Open, then Login; nothing when already connected.
  void Connect();
  // Logout, then Close; nothing when not connected.
  void Disconnect();

  // Each protocol client connects the socket (ConnectSocket), reads the
  // greeting and logs in here, and says goodbye in Logout.
  virtual void Login() = 0;
  virtual void Logout() = 0;
};

}  // namespace quillon
