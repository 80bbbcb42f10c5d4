#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/HeadlessLoop.h"
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

}  // namespace
}  // namespace scoutor
