#include "mail/pump_throttle.h"

#include <chrono>

#include "platform/message_pump.h"

namespace quillon {

namespace {
constexpr std::chrono::milliseconds kDispatchInterval{5};
// Reading the clock costs more than the caller's unit of work (a
// line or paragraph), so it is read only every so many calls.
constexpr unsigned kCallsPerClockRead = 16;
}  // namespace

void ProcessMessagesThrottled() {
  static unsigned calls = 0;
  static auto last_dispatch = std::chrono::steady_clock::now();
  if (++calls % kCallsPerClockRead != 0) return;
  auto now = std::chrono::steady_clock::now();
  if (now - last_dispatch < kDispatchInterval) return;
  last_dispatch = now;
  ProcessMessages();
}

}  // namespace quillon
