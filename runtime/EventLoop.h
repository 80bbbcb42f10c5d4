#pragma once
// The main thread's event loop as the core sees it: periodic timers that tick on the loop's
// thread, and a hand-over that lets another thread run one step on the loop's thread and wait
// for it. Headless programs and tests use THeadlessLoop; the desktop program puts Qt's loop
// behind the same interface.
#include <cstdint>
#include <functional>

namespace scoutor {

using TTimerId = std::uint64_t;

class TEventLoop {
 public:
  virtual ~TEventLoop() = default;

  // Runs `step` on the loop's thread and blocks the caller until it has run; an exception the
  // step raises is rethrown to the caller. Called on the loop's thread, the step runs at once.
  virtual void HandOver(std::function<void()> step) = 0;

  // Calls `tick` on the loop's thread every `intervalMs` until stopped. Loop thread only.
  virtual TTimerId StartTimer(int intervalMs, std::function<void()> tick) = 0;
  virtual void StopTimer(TTimerId id) = 0;

  // For work on the loop's thread that must wait for another thread which may itself be
  // waiting in a hand-over (stopping the UDP listener): runs hand-overs as they arrive until
  // `done` holds. The other thread calls Wake() when `done` may have changed.
  virtual void ServiceHandOversUntil(const std::function<bool()>& done) = 0;
  virtual void Wake() = 0;

  virtual bool IsLoopThread() const = 0;
};

// The process's main loop. Unless one was installed, the first call creates a headless loop
// whose thread is the calling thread.
TEventLoop& MainLoop();
// Installs `loop` as the main loop (nullptr removes it); the caller keeps ownership.
void SetMainLoop(TEventLoop* loop);

// Installs a loop for the lifetime of the scope and restores the previous one afterwards.
class TMainLoopScope {
 public:
  explicit TMainLoopScope(TEventLoop& loop);
  ~TMainLoopScope();
  TMainLoopScope(const TMainLoopScope&) = delete;
  TMainLoopScope& operator=(const TMainLoopScope&) = delete;

 private:
  TEventLoop* Previous;
};

}  // namespace scoutor
