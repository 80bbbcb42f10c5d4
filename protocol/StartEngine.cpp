#include "protocol/StartEngine.h"

#include "runtime/NamedLock.h"
#include "runtime/Notifier.h"

namespace scoutor {

std::unique_ptr<TVEP> EngineInstance;

bool StartEngine() {
  if (!CreateNamedLock("HalvexVEPMutex")) {
    Notifier().Show("HalvexVEP Error",
                    "HalvexVEP.dll is already running on this system, Please terminate the old "
                    "application first",
                    TNoticeButtons::OkCancel);
    return false;
  }
  EngineInstance = std::make_unique<TVEP>();
  return true;
}

}  // namespace scoutor
