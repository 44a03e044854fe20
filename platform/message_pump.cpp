#include "platform/message_pump.h"

#include "platform/poll_pump.h"

namespace quillon {

namespace {

MessagePump* installed_pump = nullptr;

MessagePump& DefaultPump() {
  static PollPump pump;
  return pump;
}

}  // namespace

MessagePump& CurrentPump() {
  return installed_pump != nullptr ? *installed_pump : DefaultPump();
}

void InstallPump(MessagePump* pump) { installed_pump = pump; }

void ProcessMessages() { CurrentPump().DispatchPending(); }

}  // namespace quillon
