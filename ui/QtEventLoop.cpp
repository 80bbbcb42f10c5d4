#include "ui/QtEventLoop.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

namespace scoutor {

TQtEventLoop::TQtEventLoop()
    : TimeSource(&SteadyClock()), LoopThread(std::this_thread::get_id()), Timers(*TimeSource) {}

TQtEventLoop::TQtEventLoop(TManualClock& clock)
    : Manual(&clock), TimeSource(&clock), LoopThread(std::this_thread::get_id()), Timers(clock) {}

TQtEventLoop::~TQtEventLoop() {
  // A sender must never stay blocked on a loop that is gone.
  HandOvers.RunAll();
  for (auto& [id, timer] : QtTimers) delete timer;
  for (auto& [id, notifier] : Watches) delete notifier;
}

void TQtEventLoop::HandOver(std::function<void()> step) {
  if (IsLoopThread()) {
    step();
    return;
  }
  // Wakes Qt's loop, or the modal loop running on it, at once.
  HandOvers.Send(step, [this] {
    QMetaObject::invokeMethod(this, [this] { HandOvers.RunAll(); }, Qt::QueuedConnection);
  });
}

void TQtEventLoop::Post(std::function<void()> step) {
  QMetaObject::invokeMethod(this, std::move(step), Qt::QueuedConnection);
}

TTimerId TQtEventLoop::StartTimer(int intervalMs, std::function<void()> tick) {
  const TTimerId id = Timers.AddPeriodic(intervalMs, std::move(tick));
  if (Manual == nullptr) AttachQtTimer(id, false);
  return id;
}

TTimerId TQtEventLoop::StartSingleShot(int delayMs, std::function<void()> step) {
  const TTimerId id = Timers.AddSingleShot(delayMs, std::move(step));
  if (Manual == nullptr) AttachQtTimer(id, true);
  return id;
}

void TQtEventLoop::AttachQtTimer(TTimerId id, bool singleShot) {
  auto* timer = new QTimer(this);
  timer->setTimerType(Qt::PreciseTimer);
  timer->setSingleShot(singleShot);
  timer->setInterval(Timers.DelayMs(id));
  connect(timer, &QTimer::timeout, timer, [this, id, singleShot] {
    if (singleShot) DropQtTimer(id);  // the table's entry ends as it fires
    Timers.Fire(id);
  });
  timer->start();
  QtTimers.emplace(id, timer);
}

void TQtEventLoop::StopTimer(TTimerId id) {
  Timers.Remove(id);
  DropQtTimer(id);
}

void TQtEventLoop::DropQtTimer(TTimerId id) {
  auto it = QtTimers.find(id);
  if (it == QtTimers.end()) return;
  it->second->stop();
  it->second->deleteLater();  // it may be inside its own timeout
  QtTimers.erase(it);
}

TWatchId TQtEventLoop::WatchDescriptor(int descriptor, TWatchKind kind,
                                       std::function<void()> ready) {
  const TWatchId id = NextWatchId++;
  auto* notifier = new QSocketNotifier(
      descriptor, kind == TWatchKind::Read ? QSocketNotifier::Read : QSocketNotifier::Write, this);
  connect(notifier, &QSocketNotifier::activated, notifier,
          [ready = std::move(ready)] { ready(); });
  Watches.emplace(id, notifier);
  return id;
}

void TQtEventLoop::StopWatching(TWatchId id) {
  auto it = Watches.find(id);
  if (it == Watches.end()) return;
  it->second->setEnabled(false);
  it->second->deleteLater();  // it may be inside its own activation
  Watches.erase(it);
}

void TQtEventLoop::ServiceHandOversUntil(const std::function<bool()>& done) {
  HandOvers.ServiceUntil(done);
}

void TQtEventLoop::Wake() { HandOvers.Wake(); }

bool TQtEventLoop::IsLoopThread() const { return std::this_thread::get_id() == LoopThread; }

void TQtEventLoop::Advance(std::int64_t ms) {
  Timers.Advance(*Manual, ms, [this] {
    QCoreApplication::processEvents();
    Timers.FireDue();
    QCoreApplication::processEvents();  // what the ticks posted runs at their time
  });
}

}  // namespace scoutor
