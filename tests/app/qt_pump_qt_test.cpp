// The Qt pump against the expectations every pump meets (run on the poll
// pump too, so the two stay interchangeable), plus what only the Qt pump
// does: window events and Qt's own loops.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/file_handle.h"
#include "platform/poll_pump.h"
#include "platform/qt_pump.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using Clock = MessagePump::Clock;

QCoreApplication& Application() {
  static int argc = 1;
  static char name[] = "qt_pump_qt_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}

struct SocketPair {
  SocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
      throw std::runtime_error("socketpair");
    }
    ours = FileHandle(fds[0]);
    theirs = FileHandle(fds[1]);
  }
  FileHandle ours;
  FileHandle theirs;
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename Pump>
std::unique_ptr<MessagePump> MakePump() {
  Application();
  return std::make_unique<Pump>();
}

template <typename Pump>
class AnyPumpTest : public ::testing::Test {
 protected:
  // Waits until `done` holds; a generous guard keeps a broken pump from
  // hanging the suite (a failure, not a measurement).
  template <typename Condition>
  bool PumpUntil(Condition done, std::chrono::seconds guard = 20s) {
    const auto deadline = Clock::now() + guard;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      pump_->WaitForEvents(deadline);
    }
    return true;
  }

  std::unique_ptr<MessagePump> pump_ = MakePump<Pump>();
};

using PumpTypes = ::testing::Types<PollPump, QtPump>;
class PumpNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, QtPump> ? "QtPump" : "PollPump";
  }
};
TYPED_TEST_SUITE(AnyPumpTest, PumpTypes, PumpNames);

TYPED_TEST(AnyPumpTest, TimersFireInTheOrderTheyAreDue) {
  std::vector<int> fired;
  for (int ms : {30, 10, 20}) {
    this->pump_->AddTimer(std::chrono::milliseconds(ms), false,
                          [&fired, ms] { fired.push_back(ms); });
  }
  ASSERT_TRUE(this->PumpUntil([&] { return fired.size() == 3; }));
  EXPECT_EQ(fired, (std::vector<int>{10, 20, 30}));
}

TYPED_TEST(AnyPumpTest, OneShotFiresOnceRepeatingFiresUntilRemoved) {
  int once = 0;
  int repeated = 0;
  MessagePump::TimerId repeating = 0;
  this->pump_->AddTimer(1ms, false, [&] { ++once; });
  repeating = this->pump_->AddTimer(2ms, true, [&] {
    if (++repeated == 4) this->pump_->RemoveTimer(repeating);
  });
  ASSERT_TRUE(this->PumpUntil([&] { return repeated == 4; }));
  // Another timer later than any further tick would have been.
  bool later = false;
  this->pump_->AddTimer(10ms, false, [&] { later = true; });
  ASSERT_TRUE(this->PumpUntil([&] { return later; }));
  EXPECT_EQ(once, 1);
  EXPECT_EQ(repeated, 4);
}

TYPED_TEST(AnyPumpTest, PostedCallsRunLaterInOrder) {
  std::vector<int> ran;
  this->pump_->Post([&] {
    ran.push_back(1);
    this->pump_->Post([&] { ran.push_back(3); });
  });
  this->pump_->Post([&] { ran.push_back(2); });
  EXPECT_TRUE(ran.empty());
  this->pump_->DispatchPending();
  this->pump_->DispatchPending();
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TYPED_TEST(AnyPumpTest, SelfPostingCallCannotHoldUpADispatch) {
  int runs = 0;
  std::function<void()> again = [&] {
    ++runs;
    this->pump_->Post(again);
  };
  this->pump_->Post(again);
  this->pump_->DispatchPending();  // returns, however often it re-posts
  const int after_one = runs;
  EXPECT_GE(after_one, 1);
  EXPECT_LE(after_one, 2);
  bool timer_fired = false;
  this->pump_->AddTimer(1ms, false, [&] { timer_fired = true; });
  EXPECT_TRUE(this->PumpUntil([&] { return timer_fired; }));
  again = [&] { ++runs; };  // stop re-posting
  this->pump_->DispatchPending();
}

TYPED_TEST(AnyPumpTest, DispatchPendingLeavesFutureTimersAlone) {
  bool fired = false;
  const auto timer = this->pump_->AddTimer(1h, false, [&] { fired = true; });
  this->pump_->DispatchPending();
  EXPECT_FALSE(fired);
  this->pump_->RemoveTimer(timer);
  this->pump_->RemoveTimer(timer);  // unknown now: nothing happens
  this->pump_->RemoveTimer(987654);
}

TYPED_TEST(AnyPumpTest, WaitReturnsWhenASocketBecomesReadable) {
  SocketPair pair;
  unsigned seen = 0;
  const auto watch = this->pump_->AddWatch(
      pair.ours.Get(), MessagePump::kReadable, [&](unsigned ready) {
        seen = ready;
        char byte;
        ASSERT_EQ(::read(pair.ours.Get(), &byte, 1), 1);
      });
  std::thread writer([&] { ASSERT_EQ(::write(pair.theirs.Get(), "x", 1), 1); });
  const auto deadline = Clock::now() + 60s;
  while (seen == 0 && Clock::now() < deadline) {
    this->pump_->WaitForEvents(deadline);
  }
  writer.join();
  EXPECT_LT(Clock::now(), deadline);
  EXPECT_EQ(seen, MessagePump::kReadable);
  this->pump_->RemoveWatch(watch);
}

TYPED_TEST(AnyPumpTest, WaitBlocksUntilItsDeadlineWithoutSpinning) {
  const double cpu_before = CpuSeconds();
  const auto deadline = Clock::now() + 300ms;
  int waits = 0;
  while (Clock::now() < deadline) {
    this->pump_->WaitForEvents(deadline);
    ++waits;
  }
  // Nothing happened, so the wait had nothing to return for but its
  // deadline: one wait, or a few if the clock was coarse. A spinning wait
  // makes thousands and burns the whole interval in CPU time.
  EXPECT_LE(waits, 3);
  EXPECT_LT(CpuSeconds() - cpu_before, 0.1);
}

TYPED_TEST(AnyPumpTest, WatchesAreLevelTriggeredUntilLowered) {
  SocketPair pair;
  ASSERT_EQ(::write(pair.theirs.Get(), "unread", 6), 6);
  int calls = 0;
  const auto watch = this->pump_->AddWatch(
      pair.ours.Get(), MessagePump::kReadable, [&](unsigned) { ++calls; });
  ASSERT_TRUE(this->PumpUntil([&] { return calls >= 1; }));
  const int after_first = calls;
  this->pump_->DispatchPending();
  this->pump_->DispatchPending();
  EXPECT_GE(calls, after_first + 2);
  this->pump_->SetWatchEvents(watch, 0);
  const int lowered = calls;
  this->pump_->DispatchPending();
  this->pump_->DispatchPending();
  EXPECT_EQ(calls, lowered);
  this->pump_->RemoveWatch(watch);
}

TYPED_TEST(AnyPumpTest, HangupIsReportedAndAWatchMayRemoveItself) {
  SocketPair pair;
  unsigned seen = 0;
  int calls = 0;
  MessagePump::WatchId watch = 0;
  watch = this->pump_->AddWatch(pair.ours.Get(), MessagePump::kReadable,
                                [&](unsigned ready) {
                                  seen = ready;
                                  ++calls;
                                  this->pump_->RemoveWatch(watch);
                                });
  pair.theirs.Reset();
  ASSERT_TRUE(this->PumpUntil([&] { return calls > 0; }));
  EXPECT_TRUE(seen & MessagePump::kHangup);
  this->pump_->DispatchPending();
  this->pump_->DispatchPending();
  EXPECT_EQ(calls, 1);
}

TYPED_TEST(AnyPumpTest, RunEndsWithQuitsExitCode) {
  this->pump_->AddTimer(5ms, false, [&] { this->pump_->Quit(7); });
  EXPECT_EQ(this->pump_->Run(), 7);
}

TYPED_TEST(AnyPumpTest, HandlersMayWaitInsideTheirOwnDispatch) {
  bool inner_fired = false;
  bool outer_done = false;
  this->pump_->AddTimer(1ms, false, [&] {
    this->pump_->AddTimer(5ms, false, [&] { inner_fired = true; });
    outer_done = this->PumpUntil([&] { return inner_fired; });
  });
  ASSERT_TRUE(this->PumpUntil([&] { return outer_done; }));
  EXPECT_TRUE(inner_fired);
}

TYPED_TEST(AnyPumpTest, ExceptionOfATimerReachesTheWaitingCaller) {
  this->pump_->AddTimer(1ms, false, [] { throw std::runtime_error("tick"); });
  EXPECT_THROW(this->PumpUntil([] { return false; }, 5s), std::runtime_error);
  // The pump keeps working afterwards.
  bool fired = false;
  this->pump_->AddTimer(1ms, false, [&] { fired = true; });
  EXPECT_TRUE(this->PumpUntil([&] { return fired; }));
}

TYPED_TEST(AnyPumpTest, ExceptionOfAWatchReachesTheWaitingCaller) {
  SocketPair pair;
  ASSERT_EQ(::write(pair.theirs.Get(), "x", 1), 1);
  MessagePump::WatchId watch = 0;
  watch = this->pump_->AddWatch(pair.ours.Get(), MessagePump::kReadable,
                                [&](unsigned) {
                                  this->pump_->RemoveWatch(watch);
                                  throw std::runtime_error("socket");
                                });
  EXPECT_THROW(this->PumpUntil([] { return false; }, 5s), std::runtime_error);
}

// What only the Qt pump does.
class QtPumpTest : public AnyPumpTest<QtPump> {};

TEST_F(QtPumpTest, DispatchPendingHandlesQtEvents) {
  bool delivered = false;
  QMetaObject::invokeMethod(
      &Application(), [&] { delivered = true; }, Qt::QueuedConnection);
  pump_->DispatchPending();
  EXPECT_TRUE(delivered);
}

TEST_F(QtPumpTest, WaitReturnsOnAQtEventBeforeItsDeadline) {
  bool delivered = false;
  std::thread poster([&] {
    QMetaObject::invokeMethod(
        &Application(), [&] { delivered = true; }, Qt::QueuedConnection);
  });
  const auto deadline = Clock::now() + 60s;
  while (!delivered && Clock::now() < deadline) pump_->WaitForEvents(deadline);
  poster.join();
  EXPECT_TRUE(delivered);
  EXPECT_LT(Clock::now(), deadline);
}

TEST_F(QtPumpTest, PumpTimersRunInsideQtsOwnLoops) {
  // A modal box runs its own loop; the pump's timers must keep firing.
  QEventLoop modal;
  int ticks = 0;
  MessagePump::TimerId timer = 0;
  timer = pump_->AddTimer(1ms, true, [&] {
    if (++ticks == 3) {
      pump_->RemoveTimer(timer);
      modal.exit(0);
    }
  });
  EXPECT_EQ(modal.exec(), 0);
  EXPECT_EQ(ticks, 3);
}

TEST_F(QtPumpTest, ApplicationExitEndsRun) {
  pump_->AddTimer(1ms, false, [] { QCoreApplication::exit(4); });
  EXPECT_EQ(pump_->Run(), 4);
  // The application's exit stays in force for every later loop of this
  // thread until the application's own loop has run once; let it run, so
  // the tests after this one start from a clean state.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

}  // namespace
}  // namespace quillon
