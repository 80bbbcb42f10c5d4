// vepctl discover: lists the devices that answer one scan, optionally with their reachability.
#include <memory>
#include <string>

#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceRecord.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Reachability.h"
#include "tools/vepctl/Session.h"
#include "transport/LocalInterfaces.h"

namespace scoutor::vepctl {

namespace {

struct TDiscoverOptions {
  bool Ping = false;
  int WaitMs = 3000;
};

// The local interfaces the discovery broadcasts went out on, for the message that none was
// answered: "eth0 10.0.0.1, wlan0 192.168.1.5", or "no interface with IPv4 and broadcast".
std::string AskedInterfaces() {
  std::string names;
  for (const TLocalInterface& local : TLocalInterfaces::List()) {
    if (!local.Up || local.Loopback || !local.Broadcast) continue;
    if (!names.empty()) names += ", ";
    names += local.Device + " " + local.Address;
  }
  return names.empty() ? "no interface that is up with an IPv4 address and broadcast" : names;
}

int RunDiscover(const TDiscoverOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  TDeviceScan scan(session);
  // Without pings every device is shown as soon as it answers.
  if (!options.Ping)
    scan.OnNewDevice = [&output](const TDeviceInfo& device) { PrintDevice(output, device); };
  scan.Run(options.WaitMs);
  if (options.Ping) {
    std::vector<std::string> addresses;
    for (const TDeviceInfo& device : scan.Devices()) addresses.push_back(device.IPAddress);
    const std::vector<TCheckResult> checks = CheckAll(session, addresses);
    for (std::size_t i = 0; i < checks.size(); ++i)
      PrintDevice(output, scan.Devices()[i], checks[i]);
  }
  if (!scan.Devices().empty()) return 0;
  return output.Error(1, "no device answered the scan (asked through " + AskedInterfaces() + ")",
                      {{"devices", 0}});
}

}  // namespace

void AddDiscoverCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TDiscoverOptions>();
  CLI::App* command = app.add_subcommand("discover", "List the devices that answer a scan");
  command->footer(
      "Sends five discovery broadcasts 500 ms apart and lists each device that\n"
      "answers, once, as soon as its first reply comes: name, type, IP address, ID\n"
      "and the local interface that heard it (tab-separated). With --ping the list\n"
      "follows the reachability checks; a check that could not be made is shown as\n"
      "failed, with the reason. When no device answers, says so on standard error,\n"
      "naming the interfaces asked, and exits 1.");
  command->add_flag("--ping", options->Ping,
                    "Also check whether each device answers a ping (all at once, up to 5 s each)");
  command->add_option("--wait", options->WaitMs, "Listen this long from the scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  command->callback([options, &global, &exitCode] { exitCode = RunDiscover(*options, global); });
}

}  // namespace scoutor::vepctl
