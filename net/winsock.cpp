#include "net/winsock.h"

#include "net/net_errors.h"

namespace quillon {

TagWinsock& TagWinsock::Instance() {
  static TagWinsock instance;
  return instance;
}

void TagWinsock::RequireLoaded() const {
  if (!loaded_) throw EWinsockDLLError("Winsock is not loaded");
}

}  // namespace quillon
