#pragma once
// The event loop of programs without windows (vepctl, libvep's VEPProcessEvents, tests). Its
// thread is the one that created it. A hand-over wakes a waiting loop at once; timers are
// checked against a TClock, so tests drive them with a manual clock.
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "runtime/Clock.h"
#include "runtime/EventLoop.h"

namespace scoutor {

class THeadlessLoop final : public TEventLoop {
 public:
  explicit THeadlessLoop(TClock& clock = SteadyClock());
  ~THeadlessLoop() override;
  THeadlessLoop(const THeadlessLoop&) = delete;
  THeadlessLoop& operator=(const THeadlessLoop&) = delete;

  void HandOver(std::function<void()> step) override;
  TTimerId StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(TTimerId id) override;
  void ServiceHandOversUntil(const std::function<bool()>& done) override;
  void Wake() override;
  bool IsLoopThread() const override;

  // Runs the queued hand-overs and the timers that are due, without waiting.
  void Pump();
  // Runs the loop, waiting for hand-overs and timers, until `done` holds, Quit() is called or
  // `timeoutMs` have passed on the clock (-1: no limit). True when `done` held.
  bool RunUntil(const std::function<bool()>& done, int timeoutMs);
  void RunFor(int ms) { RunUntil(nullptr, ms); }
  // Ends the innermost RunUntil; callable from any thread.
  void Quit();
  // With a manual clock: moves it forward by `ms`, stopping at every timer's due time to fire it.
  void Advance(TManualClock& clock, std::int64_t ms);
  // Number of timers running, for tests.
  std::size_t TimerCount() const { return Timers.size(); }

 private:
  // Lives on the stack of the thread that handed the step over, which waits until Done.
  struct TPendingStep {
    std::function<void()>* Step;
    std::exception_ptr Error;
    bool Done = false;
  };
  struct TTimerEntry {
    int IntervalMs;
    std::int64_t DueMs;
    std::function<void()> Tick;
  };

  void RunHandOvers();
  void FireDueTimers();
  std::int64_t NextDueMs() const;

  TClock& Clock;
  const std::thread::id LoopThread;
  std::mutex Mutex;
  std::condition_variable Changed;  // a step was queued, a step finished, Wake() or Quit()
  std::deque<TPendingStep*> Queue;
  bool WakeRequested = false;
  bool QuitRequested = false;
  std::map<TTimerId, TTimerEntry> Timers;  // loop thread only
  TTimerId NextTimerId = 1;
};

}  // namespace scoutor
