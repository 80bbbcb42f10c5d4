#include "runtime/HeadlessLoop.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

namespace scoutor {

namespace {
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
}

THeadlessLoop::THeadlessLoop(TClock& clock) : Clock(clock), LoopThread(std::this_thread::get_id()) {}

THeadlessLoop::~THeadlessLoop() {
  // A sender must never stay blocked on a loop that is gone.
  RunHandOvers();
}

void THeadlessLoop::HandOver(std::function<void()> step) {
  if (IsLoopThread()) {
    step();
    return;
  }
  // No allocation: the step and its outcome stay here until the loop's thread set Done, after
  // which that thread no longer touches them.
  TPendingStep pending{&step, nullptr, false};
  std::unique_lock lock(Mutex);
  Queue.push_back(&pending);
  Changed.notify_all();
  Changed.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void THeadlessLoop::RunHandOvers() {
  for (;;) {
    TPendingStep* pending;
    {
      std::lock_guard lock(Mutex);
      if (Queue.empty()) return;
      pending = Queue.front();
      Queue.pop_front();
    }
    try {
      (*pending->Step)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    std::lock_guard lock(Mutex);
    pending->Done = true;
    Changed.notify_all();
  }
}

TTimerId THeadlessLoop::StartTimer(int intervalMs, std::function<void()> tick) {
  const int interval = std::max(intervalMs, 1);
  const TTimerId id = NextTimerId++;
  Timers.emplace(id, TTimerEntry{interval, Clock.NowMs() + interval, std::move(tick)});
  return id;
}

void THeadlessLoop::StopTimer(TTimerId id) { Timers.erase(id); }

std::int64_t THeadlessLoop::NextDueMs() const {
  std::int64_t due = kNever;
  for (const auto& [id, timer] : Timers) due = std::min(due, timer.DueMs);
  return due;
}

void THeadlessLoop::FireDueTimers() {
  const std::int64_t now = Clock.NowMs();
  // Each timer fires at most once per call; a timer that fell behind (the loop's thread was
  // blocked) is not fired in a burst, as with a desktop toolkit's timers.
  std::vector<TTimerId> due;
  for (const auto& [id, timer] : Timers)
    if (timer.DueMs <= now) due.push_back(id);
  std::sort(due.begin(), due.end(),
            [&](TTimerId a, TTimerId b) { return Timers.at(a).DueMs < Timers.at(b).DueMs; });
  for (TTimerId id : due) {
    auto it = Timers.find(id);  // an earlier tick may have stopped it
    if (it == Timers.end()) continue;
    TTimerEntry& timer = it->second;
    timer.DueMs += timer.IntervalMs;
    if (timer.DueMs <= now) timer.DueMs = now + timer.IntervalMs;
    auto tick = timer.Tick;  // the tick may stop its own timer
    tick();
  }
}

void THeadlessLoop::Pump() {
  RunHandOvers();
  FireDueTimers();
  RunHandOvers();
}

bool THeadlessLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const std::int64_t deadline = timeoutMs < 0 ? kNever : Clock.NowMs() + timeoutMs;
  {
    std::lock_guard lock(Mutex);
    QuitRequested = false;
  }
  for (;;) {
    Pump();
    if (done && done()) return true;
    const std::int64_t now = Clock.NowMs();
    const std::int64_t until = std::min(deadline, NextDueMs());
    std::unique_lock lock(Mutex);
    if (QuitRequested) {
      QuitRequested = false;
      return false;
    }
    if (now >= deadline) return false;
    if (Queue.empty() && !WakeRequested) {
      auto idle = [&] { return !Queue.empty() || WakeRequested || QuitRequested; };
      if (until == kNever)
        Changed.wait(lock, idle);
      else if (until > now)
        Changed.wait_for(lock, std::chrono::milliseconds(until - now), idle);
    }
    WakeRequested = false;
  }
}

void THeadlessLoop::ServiceHandOversUntil(const std::function<bool()>& done) {
  for (;;) {
    RunHandOvers();
    if (done()) return;
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [&] { return !Queue.empty() || WakeRequested; });
    WakeRequested = false;
  }
}

void THeadlessLoop::Wake() {
  std::lock_guard lock(Mutex);
  WakeRequested = true;
  Changed.notify_all();
}

void THeadlessLoop::Quit() {
  std::lock_guard lock(Mutex);
  QuitRequested = true;
  Changed.notify_all();
}

bool THeadlessLoop::IsLoopThread() const { return std::this_thread::get_id() == LoopThread; }

void THeadlessLoop::Advance(TManualClock& clock, std::int64_t ms) {
  const std::int64_t target = clock.NowMs() + ms;
  for (;;) {
    Pump();
    const std::int64_t next = NextDueMs();
    if (next > target) break;
    clock.Set(std::max(next, clock.NowMs()));
  }
  clock.Set(target);
  Pump();
}

}  // namespace scoutor
