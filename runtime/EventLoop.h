#pragma once
// The main thread's event loop as the core sees it: timers that fire on the loop's thread,
// descriptors watched for readiness, steps posted to run later, and a hand-over that lets
// another thread run one step on the loop's thread and wait for it. Nothing that waits for the
// network may block the loop: it watches the socket and sets a timer instead. Headless programs
// and tests use THeadlessLoop; the desktop program puts Qt's loop behind the same interface
// (QTimer, QSocketNotifier, queued invocation).
#include <cstdint>
#include <functional>

namespace scoutor {

using TTimerId = std::uint64_t;
using TWatchId = std::uint64_t;

// What a watcher waits for. A descriptor with an error or a hang-up pending counts as readable,
// so that the owner's read finds out.
enum class TWatchKind { Read, Write };

class TEventLoop {
 public:
  virtual ~TEventLoop() = default;

  // Runs `step` on the loop's thread and blocks the caller until it has run; an exception the
  // step raises is rethrown to the caller. Called on the loop's thread, the step runs at once.
  virtual void HandOver(std::function<void()> step) = 0;

  // Calls `tick` on the loop's thread every `intervalMs` until stopped. Loop thread only.
  virtual TTimerId StartTimer(int intervalMs, std::function<void()> tick) = 0;
  // Calls `step` once on the loop's thread after `delayMs`; StopTimer cancels it before then.
  // Loop thread only.
  virtual TTimerId StartSingleShot(int delayMs, std::function<void()> step) = 0;
  // Stopping a timer that has ended or was never started does nothing.
  virtual void StopTimer(TTimerId id) = 0;

  // Calls `ready` on the loop's thread whenever `descriptor` is ready for `kind`, until the
  // watch is stopped (also from inside `ready`). The owner keeps the descriptor open while it
  // is watched. Loop thread only.
  virtual TWatchId WatchDescriptor(int descriptor, TWatchKind kind, std::function<void()> ready) = 0;
  virtual void StopWatching(TWatchId id) = 0;

  // Queues `step` to run on the loop's thread soon, after the current step, without waiting for
  // it; posted steps run in the order they were posted. Any thread.
  virtual void Post(std::function<void()> step) = 0;

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
