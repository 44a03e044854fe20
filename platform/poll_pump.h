// MessagePump on poll(2): the pump of the tools and the tests.
#pragma once

#include <deque>
#include <map>

#include "platform/message_pump.h"

namespace quillon {

class PollPump final : public MessagePump {
 public:
  PollPump() = default;
  PollPump(const PollPump&) = delete;
  PollPump& operator=(const PollPump&) = delete;

  TimerId AddTimer(std::chrono::milliseconds interval, bool repeating,
                   Callback callback) override;
  void RemoveTimer(TimerId timer) override;
  WatchId AddWatch(int fd, unsigned events,
                   std::function<void(unsigned ready)> callback) override;
  void SetWatchEvents(WatchId watch, unsigned events) override;
  void RemoveWatch(WatchId watch) override;
  void Post(Callback callback) override;
  void DispatchPending() override;
  void WaitForEvents(Clock::time_point deadline) override;
  int Run() override;
  void Quit(int exit_code) override;

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    bool repeating;
    Clock::time_point due;
    Callback callback;
  };
  struct Watch {
    int fd;
    unsigned events;
    std::function<void(unsigned)> callback;
  };

  // Polls with `timeout_ms` (0: just look) and runs what is ready.
  // Returns the number of handlers run.
  int PollAndDispatch(int timeout_ms);
  int RunPosted();
  int RunDueTimers();
  int RunReadyWatches(int timeout_ms);
  bool HasActiveWatch() const;
  int MillisecondsUntil(Clock::time_point deadline) const;

  std::map<TimerId, Timer> timers_;
  std::map<WatchId, Watch> watches_;
  std::deque<Callback> posted_;
  std::uint64_t next_id_ = 1;
  bool quit_ = false;
  int exit_code_ = 0;
};

}  // namespace quillon
