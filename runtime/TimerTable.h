#pragma once
// The timers of one event loop: their ids, intervals and due times on a TClock, and the firing
// of the ones that are due, earliest first. The headless loop fires them from its rounds; the
// Qt loop fires them from its QTimers by id, or from its rounds under a manual clock. Loop
// thread only. A tick may stop its own timer or any other and start new ones: the table never
// holds on to an entry across a tick.
#include <cstdint>
#include <functional>
#include <limits>
#include <map>

#include "runtime/Clock.h"
#include "runtime/EventLoop.h"

namespace scoutor {

class TTimerTable {
 public:
  // What NextDueMs says when no timer runs: later than any time.
  static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

  explicit TTimerTable(TClock& clock) : Clock(clock) {}
  TTimerTable(const TTimerTable&) = delete;
  TTimerTable& operator=(const TTimerTable&) = delete;

  // Fires `tick` every `intervalMs` (1 at the least) from now on, until removed.
  TTimerId AddPeriodic(int intervalMs, std::function<void()> tick);
  // Fires `step` once, `delayMs` (0 at the least) from now; the entry ends as it fires.
  TTimerId AddSingleShot(int delayMs, std::function<void()> step);
  // Removing an entry that has ended or never was does nothing.
  void Remove(TTimerId id);
  // The wait before the entry's first firing, as the table took it: a periodic entry's
  // interval, a single shot's delay.
  int DelayMs(TTimerId id) const { return Entries.at(id).DelayMs; }

  // Fires entry `id` now, whether due or not; an entry that has ended is left alone.
  void Fire(TTimerId id);
  // Fires each entry that is due by now, earliest first (started first on a tie), once at the
  // most: an entry started by a tick waits for the next call.
  void FireDue();
  std::int64_t NextDueMs() const;
  std::size_t Count() const { return Entries.size(); }

  // With the table's clock a manual one: moves it forward by `ms`, stopping at every due time.
  // `round` is the loop's own round, which serves what is ready and fires what is due (by
  // FireDue); it runs at the start, at each stop and at the end.
  void Advance(TManualClock& clock, std::int64_t ms, const std::function<void()>& round);

 private:
  struct TEntry {
    int IntervalMs;  // 0: single shot
    int DelayMs;
    std::int64_t DueMs;
    std::function<void()> Tick;
  };
  using TEntries = std::map<TTimerId, TEntry>;

  TTimerId Add(int intervalMs, int delayMs, std::function<void()> tick);
  void FireEntry(TEntries::iterator it, std::int64_t now);

  TClock& Clock;
  TEntries Entries;
  TTimerId NextId = 1;
};

}  // namespace scoutor
