#pragma once
// A descriptor watched on an event loop for as long as this object lives (or until Stop).
// Loop thread only.
#include <functional>
#include <utility>

#include "runtime/EventLoop.h"

namespace scoutor {

class TDescriptorWatch {
 public:
  TDescriptorWatch() = default;
  ~TDescriptorWatch() { Stop(); }
  TDescriptorWatch(const TDescriptorWatch&) = delete;
  TDescriptorWatch& operator=(const TDescriptorWatch&) = delete;

  // Replaces any earlier watch.
  void Start(TEventLoop& loop, int descriptor, TWatchKind kind, std::function<void()> ready) {
    Stop();
    Loop = &loop;
    Id = loop.WatchDescriptor(descriptor, kind, std::move(ready));
  }
  void Stop() {
    if (Loop != nullptr) Loop->StopWatching(Id);
    Loop = nullptr;
  }
  bool Active() const { return Loop != nullptr; }

 private:
  TEventLoop* Loop = nullptr;
  TWatchId Id = 0;
};

}  // namespace scoutor
