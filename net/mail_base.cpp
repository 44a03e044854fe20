#include "net/mail_base.h"

namespace quillon {

void TmsMailBase::Connect() {
  if (Connected()) return;
  Open();
  Login();
}

void TmsMailBase::Disconnect() {
  if (!Connected()) return;
  Logout();
  Close();
}

}  // namespace quillon
