#include <poll.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <stdexcept>
#include <utility>

#include "platform/qt_pump.h"

namespace quillon {

namespace {

// Milliseconds until `when`, rounded up so a timer set with it never fires
// before `when`; 0 when it has passed.
int MillisecondsUntil(MessagePump::Clock::time_point when) {
  const auto now = MessagePump::Clock::now();
  if (when <= now) return 0;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::min<long long>(left, INT_MAX));
}

// Qt tells only that a notifier fired; poll gives the exact readiness,
// hang-up and error included, as the poll pump reports it.
unsigned ReadinessOf(int fd, unsigned requested) {
  short wanted = 0;
  if (requested & MessagePump::kReadable) wanted |= POLLIN;
  if (requested & MessagePump::kWritable) wanted |= POLLOUT;
  pollfd entry{fd, wanted, 0};
  if (::poll(&entry, 1, 0) <= 0) return 0;
  unsigned ready = 0;
  if (entry.revents & (POLLIN | POLLPRI)) ready |= MessagePump::kReadable;
  if (entry.revents & POLLOUT) ready |= MessagePump::kWritable;
  if (entry.revents & POLLHUP) ready |= MessagePump::kHangup;
  if (entry.revents & (POLLERR | POLLNVAL)) ready |= MessagePump::kError;
  return ready;
}

// Counts a nesting level for as long as it lives.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace

QtPump::QtPump()
    : wake_timer_(std::make_unique<QTimer>()),
      deadline_timer_(std::make_unique<QTimer>()) {
  if (QCoreApplication::instance() == nullptr) {
    throw std::logic_error("QtPump needs a QCoreApplication");
  }
  wake_timer_->setSingleShot(true);
  wake_timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(wake_timer_.get(), &QTimer::timeout, [this] {
    DeleteRetired();
    CallFromQt([this] { OnWakeTimer(); });
  });
  // The deadline timer only has to wake a blocked WaitForEvents.
  deadline_timer_->setSingleShot(true);
  deadline_timer_->setTimerType(Qt::PreciseTimer);
}

QtPump::~QtPump() = default;

MessagePump::TimerId QtPump::AddTimer(std::chrono::milliseconds interval,
                                      bool repeating, Callback callback) {
  const TimerId id = next_id_++;
  timers_[id] =
      Timer{interval, repeating, Clock::now() + interval, std::move(callback)};
  ArmWakeTimer();
  return id;
}

void QtPump::RemoveTimer(TimerId timer) {
  timers_.erase(timer);
  ArmWakeTimer();
}

MessagePump::WatchId QtPump::AddWatch(
    int fd, unsigned events, std::function<void(unsigned ready)> callback) {
  const WatchId id = next_id_++;
  Watch& watch = watches_[id];
  watch.fd = fd;
  watch.events = events;
  watch.callback = std::move(callback);
  UpdateNotifiers(id, watch);
  return id;
}

void QtPump::SetWatchEvents(WatchId watch, unsigned events) {
  auto found = watches_.find(watch);
  if (found == watches_.end()) return;
  found->second.events = events;
  UpdateNotifiers(watch, found->second);
}

void QtPump::RemoveWatch(WatchId watch) {
  auto found = watches_.find(watch);
  if (found == watches_.end()) return;
  Retire(std::move(found->second.read_notifier));
  Retire(std::move(found->second.write_notifier));
  watches_.erase(found);
}

void QtPump::Post(Callback callback) {
  posted_.push_back(std::move(callback));
  ArmWakeTimer();
}

void QtPump::DispatchPending() {
  DeleteRetired();
  RunOwnQueue();
  ProcessQtEvents(QEventLoop::AllEvents);
  ArmWakeTimer();
}

void QtPump::WaitForEvents(Clock::time_point deadline) {
  DeleteRetired();
  if (RunOwnQueue() > 0 || MillisecondsUntil(deadline) == 0) {
    ProcessQtEvents(QEventLoop::AllEvents);
    ArmWakeTimer();
    return;
  }
  // Blocks in the event dispatcher until a window event, a notifier, the
  // wake timer (a pump timer or posted call) or the deadline timer.
  ArmWakeTimer();
  deadline_timer_->start(MillisecondsUntil(deadline));
  try {
    ProcessQtEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  } catch (...) {
    deadline_timer_->stop();
    throw;
  }
  deadline_timer_->stop();
  RunOwnQueue();
  ArmWakeTimer();
}

void QtPump::ProcessQtEvents(int flags) {
  {
    DepthGuard in_pump_call(pump_call_depth_);
    QCoreApplication::processEvents(QEventLoop::ProcessEventsFlags(flags));
  }
  if (pending_exception_) {
    std::rethrow_exception(std::exchange(pending_exception_, nullptr));
  }
}

void QtPump::CallFromQt(const std::function<void()>& handler) {
  DepthGuard in_handler(handler_depth_);
  try {
    handler();
  } catch (...) {
    // Qt's loop cannot carry an exception: it goes to the pump call that
    // is dispatching, or, from the program's own loop, is dropped as the
    // program's exception logger drops it.
    if (pump_call_depth_ > 0 && !pending_exception_) {
      pending_exception_ = std::current_exception();
    }
  }
}

int QtPump::Run() {
  QEventLoop loop;
  QEventLoop* outer = std::exchange(running_loop_, &loop);
  ArmWakeTimer();
  const int exit_code = loop.exec();
  running_loop_ = outer;
  return exit_code;
}

void QtPump::Quit(int exit_code) {
  if (running_loop_ != nullptr) running_loop_->exit(exit_code);
}

int QtPump::RunOwnQueue() {
  DepthGuard in_handler(handler_depth_);
  const int handled = RunPosted();
  return handled + RunDueTimers();
}

int QtPump::RunPosted() {
  // Only what was queued before this pass, so a handler that posts again
  // cannot starve the rest.
  std::deque<Callback> batch;
  batch.swap(posted_);
  int handled = 0;
  while (!batch.empty()) {
    Callback callback = std::move(batch.front());
    batch.pop_front();
    ++handled;
    try {
      callback();
    } catch (...) {
      // What was not run yet stays queued, ahead of newer posts.
      posted_.insert(posted_.begin(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
      throw;
    }
  }
  return handled;
}

int QtPump::RunDueTimers() {
  const auto now = Clock::now();
  std::vector<std::pair<Clock::time_point, TimerId>> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= now) due.emplace_back(timer.due, id);
  }
  // Earliest first; equal times in the order the timers were added.
  std::sort(due.begin(), due.end());
  int handled = 0;
  for (const auto& [when, id] : due) {
    auto found = timers_.find(id);
    if (found == timers_.end()) continue;  // removed by an earlier handler
    Callback callback = found->second.callback;
    if (found->second.repeating) {
      found->second.due =
          std::max(found->second.due + found->second.interval, now);
    } else {
      timers_.erase(found);
    }
    ++handled;
    callback();
  }
  return handled;
}

void QtPump::ArmWakeTimer() {
  if (!posted_.empty()) {
    wake_timer_->start(0);
    return;
  }
  if (timers_.empty()) {
    wake_timer_->stop();
    return;
  }
  auto earliest = timers_.begin()->second.due;
  for (const auto& [id, timer] : timers_)
    earliest = std::min(earliest, timer.due);
  wake_timer_->start(MillisecondsUntil(earliest));
}

void QtPump::OnWakeTimer() {
  RunOwnQueue();
  ArmWakeTimer();
}

void QtPump::OnNotifier(WatchId id, unsigned direction) {
  auto found = watches_.find(id);
  if (found == watches_.end()) return;
  Watch& watch = found->second;
  // Each notifier reports its own direction, plus hang-up and error.
  const unsigned wanted = watch.events & direction;
  const unsigned ready =
      ReadinessOf(watch.fd, wanted) & (direction | kHangup | kError);
  if (wanted == 0 || ready == 0) return;
  auto callback = watch.callback;  // the handler may remove its own watch
  CallFromQt([&] { callback(ready); });
}

void QtPump::UpdateNotifiers(WatchId id, Watch& watch) {
  auto update = [&](std::unique_ptr<QSocketNotifier>& notifier,
                    QSocketNotifier::Type type, unsigned direction) {
    const bool wanted = (watch.events & direction) != 0;
    if (wanted && notifier == nullptr) {
      notifier = std::make_unique<QSocketNotifier>(watch.fd, type);
      QObject::connect(notifier.get(), &QSocketNotifier::activated,
                       [this, id, direction] { OnNotifier(id, direction); });
    }
    if (notifier != nullptr) notifier->setEnabled(wanted);
  };
  update(watch.read_notifier, QSocketNotifier::Read, kReadable);
  update(watch.write_notifier, QSocketNotifier::Write, kWritable);
}

void QtPump::Retire(std::unique_ptr<QSocketNotifier> notifier) {
  if (notifier == nullptr) return;
  notifier->setEnabled(false);
  QObject::disconnect(notifier.get(), nullptr, nullptr, nullptr);
  retired_.push_back(std::move(notifier));
}

void QtPump::DeleteRetired() {
  if (handler_depth_ == 0) retired_.clear();
}

}  // namespace quillon
