#include "platform/poll_pump.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>
#include <vector>

namespace quillon {

namespace {

short PollEventsFor(unsigned events) {
  short result = 0;
  if (events & MessagePump::kReadable) result |= POLLIN;
  if (events & MessagePump::kWritable) result |= POLLOUT;
  return result;
}

unsigned ReadyBitsFrom(short revents) {
  unsigned ready = 0;
  if (revents & (POLLIN | POLLPRI)) ready |= MessagePump::kReadable;
  if (revents & POLLOUT) ready |= MessagePump::kWritable;
  if (revents & POLLHUP) ready |= MessagePump::kHangup;
  if (revents & (POLLERR | POLLNVAL)) ready |= MessagePump::kError;
  return ready;
}

}  // namespace

MessagePump::TimerId PollPump::AddTimer(std::chrono::milliseconds interval,
                                        bool repeating, Callback callback) {
  const TimerId id = next_id_++;
  timers_[id] = Timer{interval, repeating, Clock::now() + interval,
                      std::move(callback)};
  return id;
}

void PollPump::RemoveTimer(TimerId timer) { timers_.erase(timer); }

MessagePump::WatchId PollPump::AddWatch(
    int fd, unsigned events, std::function<void(unsigned ready)> callback) {
  const WatchId id = next_id_++;
  watches_[id] = Watch{fd, events, std::move(callback)};
  return id;
}

void PollPump::SetWatchEvents(WatchId watch, unsigned events) {
  auto found = watches_.find(watch);
  if (found != watches_.end()) found->second.events = events;
}

void PollPump::RemoveWatch(WatchId watch) { watches_.erase(watch); }

void PollPump::Post(Callback callback) { posted_.push_back(std::move(callback)); }

void PollPump::DispatchPending() { PollAndDispatch(0); }

void PollPump::WaitForEvents(Clock::time_point deadline) {
  // Handlers may find nothing to do (a watch lowered in between); keep
  // waiting until one ran or the deadline passed.
  while (true) {
    const int timeout = MillisecondsUntil(deadline);
    if (PollAndDispatch(timeout) > 0 || timeout == 0) return;
  }
}

int PollPump::Run() {
  quit_ = false;
  while (!quit_) {
    // With nothing left that could ever fire, waiting would hang forever.
    if (timers_.empty() && posted_.empty() && !HasActiveWatch()) break;
    PollAndDispatch(-1);
  }
  return exit_code_;
}

void PollPump::Quit(int exit_code) {
  exit_code_ = exit_code;
  quit_ = true;
}

bool PollPump::HasActiveWatch() const {
  return std::any_of(watches_.begin(), watches_.end(),
                     [](const auto& entry) { return entry.second.events != 0; });
}

int PollPump::MillisecondsUntil(Clock::time_point deadline) const {
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return static_cast<int>(std::min<long long>(left, INT_MAX));
}

int PollPump::PollAndDispatch(int timeout_ms) {
  int handled = RunPosted();
  handled += RunDueTimers();
  if (handled > 0 || !posted_.empty()) timeout_ms = 0;
  // Never sleep past the next timer.
  for (const auto& [id, timer] : timers_) {
    const int until_due = MillisecondsUntil(timer.due);
    if (timeout_ms < 0 || until_due < timeout_ms) timeout_ms = until_due;
  }
  handled += RunReadyWatches(timeout_ms);
  handled += RunDueTimers();
  return handled;
}

int PollPump::RunPosted() {
  // Only what was queued before this pass: a handler that posts again runs
  // on the next pass, so a self-posting handler cannot starve the rest.
  std::deque<Callback> batch;
  batch.swap(posted_);
  int handled = 0;
  while (!batch.empty()) {
    Callback callback = std::move(batch.front());
    batch.pop_front();
    try {
      callback();
    } catch (...) {
      // The calls still waiting in this batch stay queued, ahead of any
      // posted meanwhile, and the exception goes on to the waiter.
      posted_.insert(posted_.begin(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
      throw;
    }
    ++handled;
  }
  return handled;
}

int PollPump::RunDueTimers() {
  const auto now = Clock::now();
  // Timers that fell due together run in the order they fell due; equal
  // times keep the order the timers were made in.
  std::vector<std::pair<Clock::time_point, TimerId>> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= now) due.emplace_back(timer.due, id);
  }
  std::sort(due.begin(), due.end());
  int handled = 0;
  for (const auto& [when, id] : due) {
    auto found = timers_.find(id);
    if (found == timers_.end()) continue;  // removed by an earlier handler
    Callback callback = found->second.callback;
    if (found->second.repeating) {
      found->second.due = std::max(found->second.due + found->second.interval,
                                   now);
    } else {
      timers_.erase(found);
    }
    callback();
    ++handled;
  }
  return handled;
}

int PollPump::RunReadyWatches(int timeout_ms) {
  std::vector<pollfd> fds;
  std::vector<WatchId> ids;
  for (const auto& [id, watch] : watches_) {
    // A watch that asks for nothing is not polled at all, so a hung-up
    // descriptor nobody reads cannot wake every wait.
    if (watch.events == 0) continue;
    fds.push_back(pollfd{watch.fd, PollEventsFor(watch.events), 0});
    ids.push_back(id);
  }
  if (fds.empty() && timeout_ms < 0) return 0;  // nothing could ever wake us
  int ready = ::poll(fds.data(), fds.size(), timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return 0;
    throw std::system_error(errno, std::generic_category(), "poll");
  }
  int handled = 0;
  for (std::size_t i = 0; i < fds.size() && ready > 0; ++i) {
    if (fds[i].revents == 0) continue;
    auto found = watches_.find(ids[i]);
    if (found == watches_.end()) continue;  // removed by an earlier handler
    // Copy: the handler may remove its own watch.
    auto callback = found->second.callback;
    callback(ReadyBitsFrom(fds[i].revents));
    ++handled;
  }
  return handled;
}

}  // namespace quillon
