#include "app/pump_timer.h"

namespace quillon {

void TPumpTimer::SetEnabled(bool enabled) {
  if (enabled == Enabled()) return;
  if (!enabled) {
    Stop();
    return;
  }
  pump_ = &CurrentPump();
  timer_ = pump_->AddTimer(interval_, true, [this] {
    if (OnTimer) OnTimer();
  });
}

void TPumpTimer::Stop() {
  if (pump_ == nullptr) return;
  pump_->RemoveTimer(timer_);
  pump_ = nullptr;
  timer_ = 0;
}

}  // namespace quillon
