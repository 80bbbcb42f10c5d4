#pragma once
// vepctl upgrade. One device is named by its address; several are chosen from a scan by ID, by
// type, or all of them (the fleet form, FleetUpgrade.cpp).
#include <optional>
#include <string>
#include <vector>

#include "tools/vepctl/Commands.h"

namespace scoutor::vepctl {

struct TUpgradeOptions {
  std::string File;
  std::optional<int> Retries;  // packets sent again after a silent wait (4 s each)
  bool AllowEmpty = false;

  std::string Address;  // the single-device form

  std::vector<std::string> DeviceIDs;  // the fleet form, by ID ("00:0A:1B:2C:3D:4E")
  std::optional<std::string> Type;     // by type: exactly, or as a case-insensitive glob
  bool All = false;                    // every device that answered the scan
  int Parallel = 1;                    // uploads running at once
  int VerifyTimeoutS = 120;            // how long a device may take to be heard again
  int WaitMs = 3000;                   // how long the scan listens

  bool Fleet() const { return !DeviceIDs.empty() || Type || All; }
};

// Scans, uploads the file to every device chosen, at most options.Parallel at once, and waits
// for each to be heard again after its restart; prints one result line per device as it
// ends, then the summary. 0 when every device was upgraded, else 1.
int RunFleetUpgrade(const TUpgradeOptions& options, const TGlobalOptions& global);

}  // namespace scoutor::vepctl
