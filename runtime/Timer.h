#pragma once
// A periodic timer owned by a component, ticking on the main loop's thread. Switching on a
// timer that is already on does not restart it.
#include <functional>

#include "runtime/EventLoop.h"

namespace scoutor {

class TTimer {
 public:
  explicit TTimer(TEventLoop& loop = MainLoop());
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  void SetInterval(int ms);
  int Interval() const { return IntervalMs; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return Running; }

  std::function<void()> OnTimer;

 private:
  void Start();
  void Stop();

  TEventLoop& Loop;
  int IntervalMs = 1000;
  bool Running = false;
  TTimerId Id = 0;
};

}  // namespace scoutor
