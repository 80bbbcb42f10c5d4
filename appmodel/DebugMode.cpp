#include "appmodel/DebugMode.h"

#include <atomic>

namespace scoutor {

namespace {
std::atomic<bool> Flag{false};
}

bool DebugMode() { return Flag; }
void SetDebugMode(bool on) { Flag = on; }

}  // namespace scoutor
