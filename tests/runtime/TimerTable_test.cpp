#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/TimerTable.h"

// What the loops' own tests leave out: ties, ticks that change the table in the middle of a
// round, firing by id (as the Qt loop's QTimers do) and the bounds on intervals and delays.
namespace scoutor {
namespace {

using TFirings = std::vector<std::pair<std::string, std::int64_t>>;

class TimerTable : public ::testing::Test {
 protected:
  // A tick that notes its name and the time it fired at.
  std::function<void()> Note(std::string name) {
    return [this, name = std::move(name)] { Fired.emplace_back(name, Clock.NowMs()); };
  }

  TManualClock Clock;
  TTimerTable Table{Clock};
  TFirings Fired;
};

TEST_F(TimerTable, TimersDueAtTheSameTimeFireInTheOrderTheyWereStarted) {
  Table.AddSingleShot(100, Note("c"));
  Table.AddPeriodic(100, Note("a"));
  Table.AddSingleShot(50, Note("early"));
  Table.AddSingleShot(100, Note("b"));
  Clock.Set(100);
  Table.FireDue();
  EXPECT_EQ(Fired, (TFirings{{"early", 100}, {"c", 100}, {"a", 100}, {"b", 100}}));
  EXPECT_EQ(Table.Count(), 1u);
  EXPECT_EQ(Table.NextDueMs(), 200);
}

TEST_F(TimerTable, ATickThatStopsAnotherDueTimerKeepsItFromFiring) {
  TTimerId victim = 0;
  Table.AddSingleShot(10, [&] {
    Fired.emplace_back("stopper", Clock.NowMs());
    Table.Remove(victim);
  });
  victim = Table.AddPeriodic(10, Note("victim"));
  Clock.Set(10);
  Table.FireDue();
  EXPECT_EQ(Fired, (TFirings{{"stopper", 10}}));
  EXPECT_EQ(Table.Count(), 0u);
  EXPECT_EQ(Table.NextDueMs(), TTimerTable::kNever);
}

TEST_F(TimerTable, ATimerStartedByATickWaitsForTheNextRoundEvenWhenDueAtOnce) {
  Table.AddSingleShot(10, [&] {
    Fired.emplace_back("first", Clock.NowMs());
    Table.AddSingleShot(0, Note("second"));
  });
  Clock.Set(10);
  Table.FireDue();
  EXPECT_EQ(Fired, (TFirings{{"first", 10}}));
  Table.FireDue();
  EXPECT_EQ(Fired, (TFirings{{"first", 10}, {"second", 10}}));
}

TEST_F(TimerTable, AdvanceFiresWhatATickStartsAtTheTimeItIsDue) {
  int rounds = 0;
  Table.AddSingleShot(300, [&] {
    Fired.emplace_back("first", Clock.NowMs());
    Table.AddSingleShot(0, Note("at once"));
    Table.AddSingleShot(200, Note("later"));
  });
  Table.Advance(Clock, 1000, [&] {
    ++rounds;
    Table.FireDue();
  });
  EXPECT_EQ(Fired, (TFirings{{"first", 300}, {"at once", 300}, {"later", 500}}));
  EXPECT_EQ(Clock.NowMs(), 1000);
  // The start, the stop at 300 (and again for what the tick started due then), 500, the end.
  EXPECT_EQ(rounds, 5);
}

TEST_F(TimerTable, FiringByIdReschedulesAPeriodicTimerAndEndsASingleShot) {
  const TTimerId periodic = Table.AddPeriodic(100, Note("periodic"));
  const TTimerId single = Table.AddSingleShot(100, Note("single"));
  Clock.Set(450);  // the periodic timer fell behind: it is due one interval from now
  Table.Fire(periodic);
  Table.Fire(single);
  Table.Fire(single);  // ended: left alone
  EXPECT_EQ(Fired, (TFirings{{"periodic", 450}, {"single", 450}}));
  EXPECT_EQ(Table.Count(), 1u);
  EXPECT_EQ(Table.NextDueMs(), 550);
  Clock.Set(500);  // fired early: still due at its own time
  Table.Fire(periodic);
  EXPECT_EQ(Table.NextDueMs(), 650);
}

TEST_F(TimerTable, ATickCanStopItsOwnPeriodicTimer) {
  TTimerId self = 0;
  int ticks = 0;
  self = Table.AddPeriodic(10, [&] {
    ++ticks;
    Table.Remove(self);
  });
  Clock.Set(10);
  Table.Fire(self);
  Table.Fire(self);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(Table.Count(), 0u);
}

TEST_F(TimerTable, IntervalsAreOneMillisecondAndDelaysNoneAtTheLeast) {
  const TTimerId periodic = Table.AddPeriodic(0, Note("periodic"));
  const TTimerId single = Table.AddSingleShot(-20, Note("single"));
  EXPECT_EQ(Table.DelayMs(periodic), 1);
  EXPECT_EQ(Table.DelayMs(single), 0);
  EXPECT_EQ(Table.NextDueMs(), 0);
  Table.Advance(Clock, 3, [&] { Table.FireDue(); });
  EXPECT_EQ(Fired, (TFirings{{"single", 0}, {"periodic", 1}, {"periodic", 2}, {"periodic", 3}}));
}

}  // namespace
}  // namespace scoutor
