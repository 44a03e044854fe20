// A window timer on the process-wide message pump: repeats every Interval
// while Enabled, calling OnTimer from inside the pump's dispatch.
#pragma once

#include <chrono>
#include <functional>

#include "platform/message_pump.h"

namespace quillon {

class TPumpTimer {
 public:
  explicit TPumpTimer(std::chrono::milliseconds interval)
      : interval_(interval) {}
  ~TPumpTimer() { Stop(); }
  TPumpTimer(const TPumpTimer&) = delete;
  TPumpTimer& operator=(const TPumpTimer&) = delete;

  std::chrono::milliseconds Interval() const { return interval_; }
  bool Enabled() const { return pump_ != nullptr; }
  // Enabling starts a fresh interval; disabling removes the pump timer.
  void SetEnabled(bool enabled);

  std::function<void()> OnTimer;

 private:
  void Stop();

  std::chrono::milliseconds interval_;
  MessagePump* pump_ = nullptr;  // the pump the timer runs on, when enabled
  MessagePump::TimerId timer_ = 0;
};

}  // namespace quillon
