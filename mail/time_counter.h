// A one-second countdown on a repeating pump timer. The timer only ticks
// while the pump dispatches, so a waiting loop that dispatches sees Expired
// become true after Period seconds.
#pragma once

#include "platform/message_pump.h"

namespace quillon {

class TTimeCounter {
 public:
  TTimeCounter();
  ~TTimeCounter();
  TTimeCounter(const TTimeCounter&) = delete;
  TTimeCounter& operator=(const TTimeCounter&) = delete;

  // Loads the count with Period and switches the timer on.
  void Start();
  // Switches the timer off. Neither Start nor Stop clears Expired.
  void Stop();

  int Period() const { return period_; }
  void SetPeriod(int seconds) { period_ = seconds; }
  bool Expired() const { return expired_; }
  void SetExpired(bool expired) { expired_ = expired; }

 private:
  void Tick();

  MessagePump::TimerId timer_ = 0;
  int count_ = 0;
  int period_ = 60;
  bool expired_ = false;
};

}  // namespace quillon
