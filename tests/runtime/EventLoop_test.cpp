#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "runtime/DescriptorWatch.h"
#include "runtime/HeadlessLoop.h"
#include "runtime/SingleShot.h"
#include "runtime/Timer.h"

namespace scoutor {
namespace {

TEST(HeadlessLoop, HandOverRunsOnLoopThreadAndBlocksTheSender) {
  THeadlessLoop loop;
  std::thread::id ranOn;
  std::atomic<bool> senderReturned{false};
  std::thread sender([&] {
    loop.HandOver([&] { ranOn = std::this_thread::get_id(); });
    senderReturned = true;
    loop.Wake();
  });
  EXPECT_TRUE(loop.RunUntil([&] { return senderReturned.load(); }, 5000));
  sender.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HeadlessLoop, HandOverCarriesTheStepsErrorBackToTheSender) {
  THeadlessLoop loop;
  std::string caught;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    try {
      loop.HandOver([] { throw std::runtime_error("step failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
    loop.Wake();
  });
  loop.RunUntil([&] { return done.load(); }, 5000);
  sender.join();
  EXPECT_EQ(caught, "step failed");
}

TEST(HeadlessLoop, HandOverOnTheLoopThreadRunsAtOnce) {
  THeadlessLoop loop;
  int runs = 0;
  loop.HandOver([&] { ++runs; });
  EXPECT_EQ(runs, 1);
}

TEST(HeadlessLoop, ServiceHandOversUntilRunsStepsWhileWaiting) {
  THeadlessLoop loop;
  std::atomic<bool> finished{false};
  int steps = 0;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) loop.HandOver([&] { ++steps; });
    finished = true;
    loop.Wake();
  });
  loop.ServiceHandOversUntil([&] { return finished.load(); });
  worker.join();
  EXPECT_EQ(steps, 3);
}

TEST(HeadlessLoop, TimersTickOnTheManualClockInOrder) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  std::vector<std::pair<char, std::int64_t>> ticks;
  loop.StartTimer(500, [&] { ticks.emplace_back('a', clock.NowMs()); });
  loop.StartTimer(300, [&] { ticks.emplace_back('b', clock.NowMs()); });
  loop.Advance(clock, 1000);
  const std::vector<std::pair<char, std::int64_t>> expected = {
      {'b', 300}, {'a', 500}, {'b', 600}, {'b', 900}, {'a', 1000}};
  EXPECT_EQ(ticks, expected);
}

TEST(HeadlessLoop, ATimerThatFellBehindTicksOnceNotInABurst) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  int ticks = 0;
  loop.StartTimer(10, [&] { ++ticks; });
  clock.Advance(1000);  // the loop's thread was blocked for a second
  loop.Pump();
  EXPECT_EQ(ticks, 1);
}

TEST(Timer, SwitchingOnARunningTimerDoesNotRestartIt) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  TTimer timer(loop);
  timer.SetInterval(500);
  std::vector<std::int64_t> ticks;
  timer.OnTimer = [&] { ticks.push_back(clock.NowMs()); };
  timer.SetEnabled(true);
  loop.Advance(clock, 300);
  timer.SetEnabled(true);
  loop.Advance(clock, 700);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{500, 1000}));
}

TEST(Timer, ATickCanSwitchItsOwnTimerOff) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  TTimer timer(loop);
  timer.SetInterval(100);
  int ticks = 0;
  timer.OnTimer = [&] {
    ++ticks;
    timer.SetEnabled(false);
  };
  timer.SetEnabled(true);
  loop.Advance(clock, 1000);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST(HeadlessLoop, ASingleShotFiresOnceAtItsTimeAndCanBeCancelled) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  std::vector<std::int64_t> fired;
  loop.StartSingleShot(400, [&] { fired.push_back(clock.NowMs()); });
  const TTimerId cancelled = loop.StartSingleShot(200, [&] { fired.push_back(-1); });
  loop.StopTimer(cancelled);
  loop.Advance(clock, 1000);
  EXPECT_EQ(fired, (std::vector<std::int64_t>{400}));
  EXPECT_EQ(loop.TimerCount(), 0u);
  loop.StopTimer(cancelled);  // stopping an ended timer does nothing
}

TEST(SingleShot, RestartingReplacesThePendingShotAndDestructionCancelsIt) {
  TManualClock clock;
  THeadlessLoop loop(clock);
  int fired = 0;
  {
    TSingleShot shot;
    shot.Start(loop, 100, [&] { fired += 1; });
    shot.Start(loop, 300, [&] { fired += 10; });
    loop.Advance(clock, 200);
    EXPECT_EQ(fired, 0);
    EXPECT_TRUE(shot.Pending());
    loop.Advance(clock, 100);
    EXPECT_EQ(fired, 10);
    EXPECT_FALSE(shot.Pending());
    shot.Start(loop, 100, [&] { fired += 100; });
  }
  loop.Advance(clock, 500);
  EXPECT_EQ(fired, 10);
  EXPECT_EQ(loop.TimerCount(), 0u);
}

// A connected pair of datagram sockets, closed at the end of the test.
struct TSocketPair {
  TSocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, Ends), 0); }
  ~TSocketPair() {
    close(Ends[0]);
    close(Ends[1]);
  }
  void Send(int end, const char* text) const {
    EXPECT_GT(write(Ends[end], text, std::char_traits<char>::length(text)), 0);
  }
  std::string Receive(int end) const {
    char buffer[64];
    const auto n = read(Ends[end], buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }
  int Ends[2] = {-1, -1};
};

TEST(HeadlessLoop, AWatcherRunsWhenItsDescriptorBecomesReadableAndWakesAWaitingLoop) {
  THeadlessLoop loop;
  TSocketPair pair;
  std::vector<std::string> received;
  TDescriptorWatch watch;
  watch.Start(loop, pair.Ends[0], TWatchKind::Read, [&] { received.push_back(pair.Receive(0)); });
  loop.Pump();
  EXPECT_TRUE(received.empty());  // nothing to read yet
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pair.Send(1, "hello");
  });
  EXPECT_TRUE(loop.RunUntil([&] { return !received.empty(); }, 5000));
  writer.join();
  EXPECT_EQ(received, (std::vector<std::string>{"hello"}));
}

TEST(HeadlessLoop, AWriteWatcherSeesAWritableSocketAndCanStopItself) {
  THeadlessLoop loop;
  TSocketPair pair;
  int calls = 0;
  TWatchId id = 0;
  id = loop.WatchDescriptor(pair.Ends[0], TWatchKind::Write, [&] {
    ++calls;
    loop.StopWatching(id);
  });
  loop.Pump();
  loop.Pump();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST(HeadlessLoop, AWatcherStoppedByAnEarlierOneInTheSameRoundIsNotCalled) {
  THeadlessLoop loop;
  TSocketPair first, second;
  first.Send(1, "a");
  second.Send(1, "b");
  std::vector<int> calls;
  TDescriptorWatch a, b;
  a.Start(loop, first.Ends[0], TWatchKind::Read, [&] {
    calls.push_back(1);
    first.Receive(0);
    b.Stop();
  });
  b.Start(loop, second.Ends[0], TWatchKind::Read, [&] { calls.push_back(2); });
  loop.Pump();
  EXPECT_EQ(calls, (std::vector<int>{1}));
}

TEST(HeadlessLoop, PostedStepsRunLaterInOrderAndWakeTheLoopFromAnotherThread) {
  THeadlessLoop loop;
  std::vector<int> order;
  loop.Post([&] {
    order.push_back(1);
    loop.Post([&] { order.push_back(3); });  // runs in a later round
  });
  loop.Post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());  // posting never runs the step at once
  loop.Pump();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  std::thread poster([&] { loop.Post([&] { order.push_back(4); }); });
  EXPECT_TRUE(loop.RunUntil([&] { return order.size() == 4; }, 5000));
  poster.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(HeadlessLoop, RunUntilWaitsForADescriptorWhileTimersKeepTicking) {
  THeadlessLoop loop;
  TSocketPair pair;
  int ticks = 0;
  loop.StartTimer(5, [&] { ++ticks; });
  bool readable = false;
  TDescriptorWatch watch;
  watch.Start(loop, pair.Ends[0], TWatchKind::Read, [&] {
    pair.Receive(0);
    readable = true;
  });
  loop.StartSingleShot(60, [&] { pair.Send(1, "late"); });
  EXPECT_TRUE(loop.RunUntil([&] { return readable; }, 5000));
  EXPECT_GE(ticks, 2);
}

}  // namespace
}  // namespace scoutor
