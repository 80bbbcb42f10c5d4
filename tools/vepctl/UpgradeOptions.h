#pragma once
// The options of vepctl upgrade. One device is named by its address; several are chosen from a
// scan by ID, by type, or all of them (the fleet form).
#include <optional>
#include <string>
#include <vector>

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

}  // namespace scoutor::vepctl
