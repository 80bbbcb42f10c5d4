#pragma once
// The core's event loop on Qt's: core timers are entries of a timer table, each fired by a
// QTimer of its own (a single-shot one for a single shot), descriptor watchers
// QSocketNotifiers, posted steps queued invocations. The UDP listener's hand-over queues a call
// that wakes Qt's loop at once while the sender blocks until it ran, so replies are served
// inside every modal loop (QDialog::exec, message boxes) as well.
// Tests give it a manual clock instead: timers then wait on that clock and Advance() fires
// them, with Qt's pending events served in between; descriptors and hand-overs stay real.
#include <QObject>

#include <cstdint>
#include <map>
#include <thread>

#include "runtime/Clock.h"
#include "runtime/EventLoop.h"
#include "runtime/HandOverQueue.h"
#include "runtime/TimerTable.h"

class QSocketNotifier;
class QTimer;

namespace scoutor {

class TQtEventLoop final : public QObject, public TEventLoop {
  Q_OBJECT

 public:
  // Real time: the timers are QTimers.
  TQtEventLoop();
  // Test time: the timers follow `clock` and fire in Advance().
  explicit TQtEventLoop(TManualClock& clock);
  ~TQtEventLoop() override;
  TQtEventLoop(const TQtEventLoop&) = delete;
  TQtEventLoop& operator=(const TQtEventLoop&) = delete;

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

  // The clock the timers follow: the machine's steady clock, or the manual one.
  TClock& Clock() const { return *TimeSource; }
  // With the manual clock: moves it forward by `ms`, stopping at every due time to fire the
  // timers due then; Qt's pending events are served before each firing and at the end.
  void Advance(std::int64_t ms);
  std::size_t TimerCount() const { return Timers.Count(); }
  std::size_t WatchCount() const { return Watches.size(); }

 private:
  // Real time: a QTimer waits for the entry and fires it by id.
  void AttachQtTimer(TTimerId id, bool singleShot);
  void DropQtTimer(TTimerId id);

  TManualClock* Manual = nullptr;
  TClock* TimeSource;
  const std::thread::id LoopThread;
  THandOverQueue HandOvers;
  TTimerTable Timers;
  std::map<TTimerId, QTimer*> QtTimers;          // real time only; loop thread only
  std::map<TWatchId, QSocketNotifier*> Watches;  // loop thread only
  TWatchId NextWatchId = 1;
};

}  // namespace scoutor
