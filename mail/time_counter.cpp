#include "mail/time_counter.h"

#include <chrono>

namespace quillon {

namespace {
constexpr std::chrono::milliseconds kTickInterval{1000};
}  // namespace

TTimeCounter::TTimeCounter() = default;

TTimeCounter::~TTimeCounter() { Stop(); }

void TTimeCounter::Start() {
  count_ = period_;
  if (timer_ == 0) {
    timer_ = CurrentPump().AddTimer(kTickInterval, true, [this] { Tick(); });
  }
}

void TTimeCounter::Stop() {
  if (timer_ != 0) {
    CurrentPump().RemoveTimer(timer_);
    timer_ = 0;
  }
}

void TTimeCounter::Tick() {
  --count_;
  // The timer keeps running after expiry; the owner stops it.
  if (count_ <= 0) expired_ = true;
}

}  // namespace quillon
