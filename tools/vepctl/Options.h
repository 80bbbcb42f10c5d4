#pragma once
// What vepctl reads from its command line beyond each command's own options: the global
// options, the checks of device IDs and addresses, the suggestion for a mistyped command, and
// the choice of devices and interfaces that discover and watch share.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "appmodel/DeviceOrder.h"
#include "protocol/VepFormat.h"
#include "tools/vepctl/Session.h"
#include "transport/LocalInterfaces.h"

namespace scoutor::vepctl {

// Accepts a device's ID text: six hexadecimal bytes joined by colons ("00:0A:1B:2C:3D:4E").
// A shorter or garbled text would leave bytes of the node ID unset and address some other
// device, so it is a usage error.
const CLI::Validator& DeviceIDText();
// Accepts a dotted IPv4 text as transport/IPv4Text.h reads it and puts its canonical form in
// its place ("010.001.002.003" becomes "10.1.2.3"), so the engine is handed one reading only.
const CLI::Validator& IPv4Text();
// The 8-byte node ID of an ID text that DeviceIDText accepted.
TVEPNodeID DeviceNodeID(const std::string& idText);

// The local interfaces a scan asks through, and the choice of one of them by --interface.
// Any thread.

// The interfaces a discovery broadcast can leave through (up, not loopback, able to
// broadcast), one entry per IPv4 address, as the system lists them now.
std::vector<TLocalInterface> ScanInterfaces();

// The entries of `interfaces` that `choice` names: those of the device with that name (as
// `ip link` shows it), or the one holding that address (dotted, read as every address is).
// Empty when it names none of them.
std::vector<TLocalInterface> ChosenInterfaces(const std::vector<TLocalInterface>& interfaces,
                                              const std::string& choice);

// "eth0 10.0.0.1, wlan0 192.168.1.5", or a text saying there is no interface to ask through.
std::string DescribeInterfaces(const std::vector<TLocalInterface>& interfaces);

// The options of discover and watch that choose which devices they show: --filter EXPR
// (repeatable; a device is shown when every expression matches it, see appmodel/DeviceOrder.h) and
// --interface NAME|ADDRESS (ask only through that local interface). Both are checked while the
// command line is read, so a subnet that cannot be read or an interface that does not exist
// is a usage error. Main thread only.
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

// Names a command that vepctl does not have, with the closest of those it has.

// The first argument that is not an option, when it names none of `commands`; else empty.
std::string UnknownCommand(int argc, const char* const* argv,
                           const std::vector<std::string>& commands);
// The command closest to `name` (fewest single-letter edits), or empty when none is near.
std::string ClosestCommand(const std::string& name, const std::vector<std::string>& commands);

}  // namespace scoutor::vepctl
