#include "ui/EngineUpgrade.h"

#include "protocol/StartEngine.h"

namespace scoutor {

TUpgradeStarter EngineUpgradeStarter() {
  return [](const std::string& file, const std::string& address,
            std::function<void(std::int32_t)> done) {
    return EngineInstance != nullptr && EngineInstance->StartUpgrade(file, address, std::move(done));
  };
}

}  // namespace scoutor
