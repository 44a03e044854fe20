#include "net/transfer_pace.h"

namespace quillon {

void TransferPace::Start(int time_out_seconds) {
  limit_ = std::chrono::seconds(time_out_seconds > 0 ? time_out_seconds : 0);
  span_start_ = Clock::now();
  bytes_ = 0;
  paused_ = false;
}

bool TransferPace::Received(std::size_t bytes) {
  if (limit_ == Clock::duration::zero()) return true;
  bytes_ += bytes;
  const Clock::time_point now = Clock::now();
  if (bytes_ >= kMinimumBytes) {
    span_start_ = now;
    bytes_ = 0;
    return true;
  }
  return now - span_start_ <= limit_;
}

void TransferPace::Pause() {
  if (paused_) return;
  paused_ = true;
  paused_at_ = Clock::now();
}

void TransferPace::Resume() {
  if (!paused_) return;
  paused_ = false;
  span_start_ += Clock::now() - paused_at_;
}

}  // namespace quillon
