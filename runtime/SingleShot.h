#pragma once
// One pending single-shot timer on an event loop, cancelled when this object goes (or on
// Stop); starting it again replaces the pending one. Loop thread only.
#include <functional>
#include <utility>

#include "runtime/EventLoop.h"

namespace scoutor {

class TSingleShot {
 public:
  TSingleShot() = default;
  ~TSingleShot() { Stop(); }
  TSingleShot(const TSingleShot&) = delete;
  TSingleShot& operator=(const TSingleShot&) = delete;

  void Start(TEventLoop& loop, int delayMs, std::function<void()> step) {
    Stop();
    Loop = &loop;
    Id = loop.StartSingleShot(delayMs, [this, step = std::move(step)] {
      Loop = nullptr;  // it has fired: nothing left to cancel
      step();
    });
  }
  void Stop() {
    if (Loop != nullptr) Loop->StopTimer(Id);
    Loop = nullptr;
  }
  bool Pending() const { return Loop != nullptr; }

 private:
  TEventLoop* Loop = nullptr;
  TTimerId Id = 0;
};

}  // namespace scoutor
