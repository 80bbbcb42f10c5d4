#pragma once
// The event loop of programs without windows (vepctl, libvep's VEPProcessEvents, tests). Its
// thread is the one that created it. It waits in one poll() on the watched descriptors and a
// wake-up descriptor, so a hand-over or a post wakes it at once; timers are checked against a
// TClock, so tests drive them with a manual clock (descriptors are still waited for in real
// time).
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/Clock.h"
#include "runtime/EventLoop.h"
#include "runtime/HandOverQueue.h"
#include "runtime/TimerTable.h"

namespace scoutor {

class THeadlessLoop final : public TEventLoop {
 public:
  explicit THeadlessLoop(TClock& clock = SteadyClock());
  ~THeadlessLoop() override;
  THeadlessLoop(const THeadlessLoop&) = delete;
  THeadlessLoop& operator=(const THeadlessLoop&) = delete;

  void HandOver(std::function<void()> step) override;
  TTimerId StartTimer(int intervalMs, std::function<void()> tick) override;
  TTimerId StartSingleShot(int delayMs, std::function<void()> step) override;
  void StopTimer(TTimerId id) override;
  TWatchId WatchDescriptor(int descriptor, TWatchKind kind, std::function<void()> ready) override;
  void StopWatching(TWatchId id) override;
  void Post(std::function<void()> step) override;
  void ServiceHandOversUntil(const std::function<bool()>& done) override;
  void Wake() override;
  bool IsLoopThread() const override;

  // Runs the queued hand-overs and posts, the watchers whose descriptors are ready and the
  // timers that are due, without waiting.
  void Pump();
  // Runs the loop, waiting for descriptors, hand-overs, posts and timers, until `done` holds,
  // Quit() is called or `timeoutMs` have passed on the clock (-1: no limit). True when `done`
  // held.
  bool RunUntil(const std::function<bool()>& done, int timeoutMs);
  void RunFor(int ms) { RunUntil(nullptr, ms); }
  // Ends the innermost RunUntil; callable from any thread.
  void Quit();
  // With a manual clock: moves it forward by `ms`, stopping at every timer's due time to fire it
  // (and to serve what is ready meanwhile).
  void Advance(TManualClock& clock, std::int64_t ms);
  // Numbers of timers and watchers running, for tests.
  std::size_t TimerCount() const { return Timers.Count(); }
  std::size_t WatchCount() const { return Watches.size(); }

 private:
  struct TWatchEntry {
    int Descriptor;
    TWatchKind Kind;
    std::function<void()> Ready;
  };

  void RunHandOvers();
  void RunPosts();
  // Waits up to `waitMs` of real time (-1: no limit) for a ready descriptor or a wake-up, then
  // serves the ready watchers.
  void ServeDescriptors(int waitMs);
  void SignalWake();
  void DrainWake();

  TClock& Clock;
  const std::thread::id LoopThread;
  int WakeDescriptor = -1;  // eventfd: hand-overs, posts, Wake() and Quit() write it
  THandOverQueue HandOvers;
  std::mutex Mutex;  // Posted and QuitRequested
  std::deque<std::function<void()>> Posted;
  bool QuitRequested = false;
  TTimerTable Timers;
  std::map<TWatchId, TWatchEntry> Watches;  // loop thread only
  TWatchId NextWatchId = 1;
};

}  // namespace scoutor
