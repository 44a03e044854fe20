// The pace a long reply must keep. The socket's clock bounds the silence
// between two pieces of a transfer, so a server that sends one byte just
// inside every time-out would hold a run for ever; the pace asks, in
// addition, for kMinimumBytes within every time-out span. Time spent in the
// handlers of what was received (storing a message, say) does not count.
#pragma once

#include <chrono>
#include <cstddef>

namespace quillon {

class TransferPace {
 public:
  // 16 KiB per time-out: 136 bytes a second at a time-out of two minutes.
  static constexpr std::size_t kMinimumBytes = 16 * 1024;

  // A new span; a time-out of 0 or less sets no pace.
  void Start(int time_out_seconds);
  // Counts received bytes. False when the span ended before kMinimumBytes
  // came in it; a span that got them starts a new one.
  bool Received(std::size_t bytes);
  // The time between Pause and Resume is not part of the span.
  void Pause();
  void Resume();

 private:
  using Clock = std::chrono::steady_clock;
  Clock::duration limit_{};
  Clock::time_point span_start_{};
  Clock::time_point paused_at_{};
  std::size_t bytes_ = 0;
  bool paused_ = false;
};

}  // namespace quillon
