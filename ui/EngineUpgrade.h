#pragma once
// The upgrade dialog's upload on the process's protocol engine: TVEP::StartUpgrade, which runs
// the TFTP upload on the main loop and reports the result code when it has ended.
#include "ui/Upgrade.h"

namespace scoutor {

TUpgradeStarter EngineUpgradeStarter();

}  // namespace scoutor
