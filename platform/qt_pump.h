// MessagePump on Qt's event loop: the pump of the program. Window events,
// Qt timers and the pump's own timers, watches and posted calls all run on
// the GUI thread from the same loop, so a network wait that pumps keeps the
// window alive. Needs a QCoreApplication for its whole life.
#pragma once

#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <vector>

#include "platform/message_pump.h"

// Forward declarations only: this header stays free of Qt includes.
class QEventLoop;
class QSocketNotifier;
class QTimer;

namespace quillon {

class QtPump final : public MessagePump {
 public:
  QtPump();
  ~QtPump() override;
  QtPump(const QtPump&) = delete;
  QtPump& operator=(const QtPump&) = delete;

  TimerId AddTimer(std::chrono::milliseconds interval, bool repeating,
                   Callback callback) override;
  void RemoveTimer(TimerId timer) override;
  WatchId AddWatch(int fd, unsigned events,
                   std::function<void(unsigned ready)> callback) override;
  void SetWatchEvents(WatchId watch, unsigned events) override;
  void RemoveWatch(WatchId watch) override;
  void Post(Callback callback) override;
  // An exception a handler raises while Qt dispatches (a pump timer or
  // watch fired from processEvents) reaches the DispatchPending or
  // WaitForEvents call that was dispatching. From Run or the application's
  // own loop it is dropped, as exceptions reaching the program's message
  // loop are.
  void DispatchPending() override;
  void WaitForEvents(Clock::time_point deadline) override;
  // Runs a Qt event loop; QCoreApplication::exit ends it as well.
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
    std::unique_ptr<QSocketNotifier> read_notifier;
    std::unique_ptr<QSocketNotifier> write_notifier;
  };

  // Runs posted calls and due timers; returns how many ran.
  int RunOwnQueue();
  int RunPosted();
  int RunDueTimers();
  // Keeps the one Qt timer that wakes the loop for the earliest due timer
  // or a posted call.
  void ArmWakeTimer();
  void OnWakeTimer();
  // processEvents; an exception a handler raised inside it is raised here.
  void ProcessQtEvents(int flags);
  // Runs a handler that Qt called (timer or notifier).
  void CallFromQt(const std::function<void()>& handler);
  void OnNotifier(WatchId watch, unsigned direction);
  void UpdateNotifiers(WatchId id, Watch& watch);
  // A notifier is never deleted while Qt may be inside its activation: it
  // waits here until no pump handler is running.
  void Retire(std::unique_ptr<QSocketNotifier> notifier);
  void DeleteRetired();

  std::map<TimerId, Timer> timers_;
  std::map<WatchId, Watch> watches_;
  std::deque<Callback> posted_;
  std::vector<std::unique_ptr<QSocketNotifier>> retired_;
  std::unique_ptr<QTimer> wake_timer_;
  std::unique_ptr<QTimer> deadline_timer_;
  QEventLoop* running_loop_ = nullptr;
  std::uint64_t next_id_ = 1;
  int handler_depth_ = 0;    // pump handlers running now
  int pump_call_depth_ = 0;  // DispatchPending / WaitForEvents in processEvents
  std::exception_ptr pending_exception_;
};

}  // namespace quillon
