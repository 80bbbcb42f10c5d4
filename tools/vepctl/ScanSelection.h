#pragma once
// The options of discover and watch that choose which devices they show: --filter EXPR
// (repeatable; a device is shown when every expression matches it, see appmodel/DeviceOrder.h) and
// --interface NAME|ADDRESS (ask only through that local interface). Both are checked while the
// command line is read, so a subnet that cannot be read or an interface that does not exist
// is a usage error. Main thread only.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "appmodel/DeviceOrder.h"
#include "tools/vepctl/Session.h"
#include "transport/LocalInterfaces.h"

namespace scoutor::vepctl {

class TScanSelection {
 public:
  void AddOptions(CLI::App& command);

  bool Selects(const TDeviceInfo& device) const;
  // The interfaces the scans ask through: those --interface names, or else every interface
  // that can broadcast.
  std::vector<TLocalInterface> Interfaces() const;
  // With --interface, restricts the session's requests and replies to `interfaces`.
  void Restrict(TSession& session, const std::vector<TLocalInterface>& interfaces) const;

 private:
  std::vector<std::string> FilterTexts;
  std::vector<TDeviceFilter> Filters;  // read from FilterTexts once they passed the check
  std::string Interface;
};

}  // namespace scoutor::vepctl
