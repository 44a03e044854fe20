#include "platform/poll_pump.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = MessagePump::Clock;

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    read_end.Reset(fds[0]);
    write_end.Reset(fds[1]);
  }
  FileHandle read_end;
  FileHandle write_end;
};

TEST(PollPumpTimers, OneShotFiresOnceAndRepeatingKeepsFiring) {
  PollPump pump;
  int once = 0;
  int repeated = 0;
  pump.AddTimer(5ms, false, [&] { ++once; });
  const auto repeating = pump.AddTimer(5ms, true, [&] { ++repeated; });
  const auto deadline = Clock::now() + 2s;
  while (repeated < 3 && Clock::now() < deadline) pump.WaitForEvents(deadline);
  pump.RemoveTimer(repeating);
  EXPECT_EQ(once, 1);
  EXPECT_GE(repeated, 3);
}

TEST(PollPumpTimers, RemovedTimerNeverFiresEvenWhenRemovedByAnotherHandler) {
  PollPump pump;
  bool second_fired = false;
  MessagePump::TimerId second = 0;
  pump.AddTimer(1ms, false, [&] { pump.RemoveTimer(second); });
  second = pump.AddTimer(1ms, false, [&] { second_fired = true; });
  pump.WaitForEvents(Clock::now() + 50ms);
  pump.WaitForEvents(Clock::now() + 20ms);
  EXPECT_FALSE(second_fired);
}

TEST(PollPumpWaits, WaitReturnsAtDeadlineWhenNothingHappens) {
  PollPump pump;
  const auto deadline = Clock::now() + 30ms;
  pump.WaitForEvents(deadline);
  EXPECT_GE(Clock::now(), deadline);
}

TEST(PollPumpWaits, DispatchPendingDoesNotRunTimersThatAreNotDue) {
  PollPump pump;
  bool fired = false;
  pump.AddTimer(10s, false, [&] { fired = true; });
  pump.DispatchPending();
  EXPECT_FALSE(fired);
}

TEST(PollPumpWatches, ReadableDescriptorWakesTheWaitAndLoweredWatchDoesNot) {
  PollPump pump;
  Pipe pipe;
  unsigned seen = 0;
  const auto watch = pump.AddWatch(pipe.read_end.Get(), MessagePump::kReadable,
                                   [&](unsigned ready) { seen |= ready; });
  ASSERT_EQ(::write(pipe.write_end.Get(), "x", 1), 1);
  pump.WaitForEvents(Clock::now() + 2s);
  EXPECT_TRUE(seen & MessagePump::kReadable);

  // Still readable, but nobody asks: the wait must run to its deadline.
  seen = 0;
  pump.SetWatchEvents(watch, 0);
  const auto deadline = Clock::now() + 20ms;
  pump.WaitForEvents(deadline);
  EXPECT_EQ(seen, 0u);
  EXPECT_GE(Clock::now(), deadline);
}

TEST(PollPumpWatches, HandlerMayRemoveItsOwnWatch) {
  PollPump pump;
  Pipe pipe;
  int calls = 0;
  MessagePump::WatchId watch = 0;
  watch = pump.AddWatch(pipe.read_end.Get(), MessagePump::kReadable,
                        [&](unsigned) {
                          ++calls;
                          pump.RemoveWatch(watch);
                        });
  ASSERT_EQ(::write(pipe.write_end.Get(), "x", 1), 1);
  pump.DispatchPending();
  pump.DispatchPending();
  EXPECT_EQ(calls, 1);
}

TEST(PollPumpPosting, PostedCallsRunInOrderAndRepostsWaitForTheNextPass) {
  PollPump pump;
  std::vector<std::string> order;
  pump.Post([&] {
    order.push_back("a");
    pump.Post([&] { order.push_back("c"); });
  });
  pump.Post([&] { order.push_back("b"); });
  pump.DispatchPending();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b"}));
  pump.DispatchPending();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(PollPumpRun, RunReturnsQuitCodeAndNestedDispatchWorks) {
  PollPump pump;
  int nested = 0;
  pump.AddTimer(1ms, false, [&] {
    // A handler that waits in turn, as the network waits do.
    pump.Post([&] { ++nested; });
    pump.DispatchPending();
    pump.Quit(7);
  });
  EXPECT_EQ(pump.Run(), 7);
  EXPECT_EQ(nested, 1);
}

TEST(PollPumpRun, RunWithNothingToWaitForReturnsInsteadOfHanging) {
  PollPump pump;
  EXPECT_EQ(pump.Run(), 0);
}

TEST(CurrentPump, InstalledPumpIsUsedAndUninstallRestoresTheDefault) {
  PollPump mine;
  MessagePump& default_pump = CurrentPump();
  InstallPump(&mine);
  EXPECT_EQ(&CurrentPump(), &mine);
  bool ran = false;
  CurrentPump().Post([&] { ran = true; });
  ProcessMessages();
  EXPECT_TRUE(ran);
  InstallPump(nullptr);
  EXPECT_EQ(&CurrentPump(), &default_pump);
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

TEST(PollPumpPosting, CallsQueuedBehindARaisingCallAreKept) {
  PollPump pump;
  bool later_ran = false;
  pump.Post([] { throw std::runtime_error("handler failed"); });
  pump.Post([&] { later_ran = true; });
  EXPECT_THROW(pump.DispatchPending(), std::runtime_error);
  EXPECT_FALSE(later_ran);
  pump.DispatchPending();
  EXPECT_TRUE(later_ran);
}

}  // namespace
}  // namespace quillon
