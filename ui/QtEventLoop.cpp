#include "ui/QtEventLoop.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <vector>

namespace scoutor {

namespace {
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
}  // namespace

TQtEventLoop::TQtEventLoop() : TimeSource(&SteadyClock()), LoopThread(std::this_thread::get_id()) {}

TQtEventLoop::TQtEventLoop(TManualClock& clock)
    : Manual(&clock), TimeSource(&clock), LoopThread(std::this_thread::get_id()) {}

TQtEventLoop::~TQtEventLoop() {
  // A sender must never stay blocked on a loop that is gone.
  HandOvers.RunAll();
  for (auto& [id, timer] : Timers) delete timer.Timer;
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
  const int interval = std::max(intervalMs, 1);
  return AddTimer(interval, interval, std::move(tick));
}

TTimerId TQtEventLoop::StartSingleShot(int delayMs, std::function<void()> step) {
  return AddTimer(0, std::max(delayMs, 0), std::move(step));
}

TTimerId TQtEventLoop::AddTimer(int intervalMs, int delayMs, std::function<void()> tick) {
  const TTimerId id = NextTimerId++;
  QTimer* timer = nullptr;
  if (Manual == nullptr) {
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(intervalMs == 0);
    timer->setInterval(delayMs);
    connect(timer, &QTimer::timeout, timer, [this, id] { FireTimer(id); });
    timer->start();
  }
  Timers.emplace(id, TTimerEntry{intervalMs, Clock().NowMs() + delayMs, std::move(tick), timer});
  return id;
}

void TQtEventLoop::FireTimer(TTimerId id) {
  auto it = Timers.find(id);
  if (it == Timers.end()) return;
  TTimerEntry& entry = it->second;
  auto tick = entry.Tick;  // the tick may stop its own timer
  if (entry.IntervalMs == 0) {
    StopTimer(id);
  } else {
    const std::int64_t now = Clock().NowMs();
    entry.DueMs += entry.IntervalMs;
    // A timer that fell behind is not fired in a burst.
    if (entry.DueMs <= now) entry.DueMs = now + entry.IntervalMs;
  }
  tick();
}

void TQtEventLoop::StopTimer(TTimerId id) {
  auto it = Timers.find(id);
  if (it == Timers.end()) return;
  if (QTimer* timer = it->second.Timer) {
    timer->stop();
    timer->deleteLater();  // it may be inside its own timeout
  }
  Timers.erase(it);
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

std::int64_t TQtEventLoop::NextDueMs() const {
  std::int64_t due = kNever;
  for (const auto& [id, timer] : Timers) due = std::min(due, timer.DueMs);
  return due;
}

void TQtEventLoop::Advance(std::int64_t ms) {
  const std::int64_t target = Manual->NowMs() + ms;
  for (;;) {
    QCoreApplication::processEvents();
    const std::int64_t next = NextDueMs();
    if (next > target) break;
    Manual->Set(std::max(next, Manual->NowMs()));
    std::vector<TTimerId> due;
    for (const auto& [id, timer] : Timers)
      if (timer.DueMs <= Manual->NowMs()) due.push_back(id);
    std::stable_sort(due.begin(), due.end(),
                     [&](TTimerId a, TTimerId b) { return Timers.at(a).DueMs < Timers.at(b).DueMs; });
    for (TTimerId id : due) FireTimer(id);
  }
  Manual->Set(std::max(target, Manual->NowMs()));
  QCoreApplication::processEvents();
}

}  // namespace scoutor
