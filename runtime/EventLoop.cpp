#include "runtime/EventLoop.h"

#include <memory>

#include "runtime/HeadlessLoop.h"

namespace scoutor {

namespace {
TEventLoop* Installed = nullptr;
}  // namespace

TEventLoop& MainLoop() {
  if (Installed == nullptr) {
    static std::unique_ptr<THeadlessLoop> fallback = std::make_unique<THeadlessLoop>();
    Installed = fallback.get();
  }
  return *Installed;
}

void SetMainLoop(TEventLoop* loop) { Installed = loop; }

TMainLoopScope::TMainLoopScope(TEventLoop& loop) : Previous(Installed) { Installed = &loop; }

TMainLoopScope::~TMainLoopScope() { Installed = Previous; }

}  // namespace scoutor
