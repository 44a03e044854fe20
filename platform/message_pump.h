// The process-wide message pump: timers, socket readiness and posted calls,
// all run on the one thread that owns the pump. Every wait in the program
// blocks here until something happens or its deadline passes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace quillon {

class MessagePump {
 public:
  using Clock = std::chrono::steady_clock;
  using Callback = std::function<void()>;
  using TimerId = std::uint64_t;  // 0 never names a timer
  using WatchId = std::uint64_t;  // 0 never names a watch

  // Readiness bits for AddWatch / SetWatchEvents and the watch callback.
  static constexpr unsigned kReadable = 1;
  static constexpr unsigned kWritable = 2;
  // Only reported, never requested: the peer hung up or the descriptor failed.
  static constexpr unsigned kHangup = 4;
  static constexpr unsigned kError = 8;

  virtual ~MessagePump() = default;

  // A timer fires `interval` after it was added (and, when repeating, every
  // `interval` after that) from inside DispatchPending / WaitForEvents / Run.
  virtual TimerId AddTimer(std::chrono::milliseconds interval, bool repeating,
                           Callback callback) = 0;
  // Removing an unknown or already removed timer does nothing.
  virtual void RemoveTimer(TimerId timer) = 0;

  // Level-triggered: while the descriptor is ready for a requested event the
  // callback is called on every dispatch. Owners that are not going to
  // consume the readiness at once lower the request with SetWatchEvents.
  virtual WatchId AddWatch(int fd, unsigned events,
                           std::function<void(unsigned ready)> callback) = 0;
  virtual void SetWatchEvents(WatchId watch, unsigned events) = 0;
  virtual void RemoveWatch(WatchId watch) = 0;

  // Queues a call for the next dispatch (the stand-in for posting a message).
  virtual void Post(Callback callback) = 0;

  // Runs everything that is ready now: posted calls, due timers, ready
  // descriptors (and, for the GUI pump, window events). Never blocks.
  virtual void DispatchPending() = 0;

  // Blocks until at least one event has been handled or `deadline` passed,
  // then handles what is ready. Never spins.
  virtual void WaitForEvents(Clock::time_point deadline) = 0;

  // Runs until Quit; returns Quit's exit code.
  virtual int Run() = 0;
  virtual void Quit(int exit_code) = 0;
};

// The pump every component of the process uses. Unless another pump was
// installed, a process-wide poll() pump is created on first use.
MessagePump& CurrentPump();

// Makes `pump` the process-wide pump (nullptr restores the default poll
// pump). The caller keeps ownership and must uninstall it before destroying
// it.
void InstallPump(MessagePump* pump);

// Shorthand for CurrentPump().DispatchPending(): "process pending messages".
void ProcessMessages();

}  // namespace quillon
