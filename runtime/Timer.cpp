#include "runtime/Timer.h"

namespace scoutor {

TTimer::TTimer(TEventLoop& loop) : Loop(loop) {}

TTimer::~TTimer() { Stop(); }

void TTimer::SetInterval(int ms) {
  if (ms == IntervalMs) return;
  IntervalMs = ms;
  if (Running) {
    Stop();
    Start();
  }
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == Running) return;
  if (enabled)
    Start();
  else
    Stop();
}

void TTimer::Start() {
  Running = true;
  Id = Loop.StartTimer(IntervalMs, [this] {
    if (OnTimer) OnTimer();
  });
}

void TTimer::Stop() {
  if (!Running) return;
  Running = false;
  Loop.StopTimer(Id);
}

}  // namespace scoutor
