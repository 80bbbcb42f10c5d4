#pragma once
// The process's one protocol engine and how it comes to be. StartEngine runs on the thread
// that becomes the engine's main thread (the one running MainLoop()).
#include <memory>

#include "protocol/VEPEngine.h"

namespace scoutor {

// The process-wide engine; empty until StartEngine succeeds, then kept until the process ends.
extern std::unique_ptr<TVEP> EngineInstance;

// Takes the engine lock "HalvexVEPMutex" (per network namespace) and creates EngineInstance.
// When another engine holds the lock: a "HalvexVEP Error" notice, and false.
bool StartEngine();

}  // namespace scoutor
