#include "runtime/TimerTable.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace scoutor {

TTimerId TTimerTable::AddPeriodic(int intervalMs, std::function<void()> tick) {
  const int interval = std::max(intervalMs, 1);
  return Add(interval, interval, std::move(tick));
}

TTimerId TTimerTable::AddSingleShot(int delayMs, std::function<void()> step) {
  return Add(0, std::max(delayMs, 0), std::move(step));
}

TTimerId TTimerTable::Add(int intervalMs, int delayMs, std::function<void()> tick) {
  const TTimerId id = NextId++;
  Entries.emplace(id, TEntry{intervalMs, delayMs, Clock.NowMs() + delayMs, std::move(tick)});
  return id;
}

void TTimerTable::Remove(TTimerId id) { Entries.erase(id); }

void TTimerTable::Fire(TTimerId id) {
  auto it = Entries.find(id);
  if (it != Entries.end()) FireEntry(it, Clock.NowMs());
}

void TTimerTable::FireDue() {
  const std::int64_t now = Clock.NowMs();
  // Each entry fires at most once per call; one that fell behind (the loop's thread was
  // blocked) is not fired in a burst, as with a desktop toolkit's timers.
  std::vector<TTimerId> due;
  for (const auto& [id, entry] : Entries)
    if (entry.DueMs <= now) due.push_back(id);
  std::stable_sort(due.begin(), due.end(), [&](TTimerId a, TTimerId b) {
    return Entries.at(a).DueMs < Entries.at(b).DueMs;
  });
  for (TTimerId id : due) {
    auto it = Entries.find(id);  // an earlier tick may have removed it
    if (it != Entries.end()) FireEntry(it, now);
  }
}

void TTimerTable::FireEntry(TEntries::iterator it, std::int64_t now) {
  TEntry& entry = it->second;
  auto tick = entry.Tick;  // the tick may remove its own entry
  if (entry.IntervalMs == 0) {
    Entries.erase(it);
  } else {
    entry.DueMs += entry.IntervalMs;
    if (entry.DueMs <= now) entry.DueMs = now + entry.IntervalMs;
  }
  tick();
}

std::int64_t TTimerTable::NextDueMs() const {
  std::int64_t due = kNever;
  for (const auto& [id, entry] : Entries) due = std::min(due, entry.DueMs);
  return due;
}

void TTimerTable::Advance(TManualClock& clock, std::int64_t ms,
                          const std::function<void()>& round) {
  const std::int64_t target = clock.NowMs() + ms;
  for (;;) {
    round();
    const std::int64_t next = NextDueMs();
    if (next > target) break;
    clock.Set(std::max(next, clock.NowMs()));
  }
  clock.Set(std::max(target, clock.NowMs()));
  round();
}

}  // namespace scoutor
