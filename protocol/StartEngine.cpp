#include "protocol/StartEngine.h"

#include <cstdlib>

#include "runtime/NamedLock.h"
#include "runtime/Notifier.h"

namespace scoutor {

std::unique_ptr<TVEP> EngineInstance;

namespace {

// The engine lives until the process ends: an engine still there at exit is kept, not
// destroyed, since the loop it watches and hands work to may already be gone by then. It stays
// reachable from here, so leak checkers do not count it.
TVEP* KeptAtExit = nullptr;

void KeepEngineAtExit() { KeptAtExit = EngineInstance.release(); }

}  // namespace

bool StartEngine() {
  if (!CreateNamedLock("HalvexVEPMutex")) {
    Notifier().Show("HalvexVEP Error",
                    "HalvexVEP.dll is already running on this system, Please terminate the old "
                    "application first",
                    TNoticeButtons::OkCancel);
    return false;
  }
  EngineInstance = std::make_unique<TVEP>();
  static const bool registered = std::atexit(KeepEngineAtExit) == 0;
  (void)registered;
  return true;
}

}  // namespace scoutor
