// vepctl auto-ip: the main window's Auto IP. Finds the device by a scan, chooses a free address
// in the subnet of the local interface that heard it, sends that as its static configuration,
// scans again and checks that the device now answers a ping.
#include <cstdio>
#include <memory>
#include <optional>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/IPSettings.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceRecord.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Reachability.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

struct TAutoIPOptions {
  std::string ID;
  bool Force = false;
  int WaitMs = 3000;
};

// What Auto IP did, printed as its result.
struct TAutoIPResult {
  TDeviceInfo Device;  // as the first scan found it
  bool Changed = false;
  std::string Address;  // the address the device answered from at the end
  std::string Mask;
  std::string Gateway;
  std::optional<TCheckResult> Check;  // the last ping of the device
};

void Status(const std::string& text) {
  std::fprintf(stderr, "vepctl: %s\n", text.c_str());
}

void PrintResult(const TOutput& output, const TAutoIPResult& result) {
  TRecord record = {{"id", result.Device.ID},
                    {"interface", result.Device.Interface},
                    {"old_ip", result.Device.IPAddress},
                    {"changed", result.Changed},
                    {"ip", result.Address},
                    {"mask", result.Mask},
                    {"gateway", result.Gateway}};
  std::string text = "id=" + Printable(result.Device.ID) +
                     " old_ip=" + Printable(result.Device.IPAddress) +
                     " ip=" + Printable(result.Address);
  if (result.Changed) text += " mask=" + result.Mask + " gateway=" + result.Gateway;
  if (result.Check) {
    text += " " + AddReachability(record, *result.Check);
  } else {
    record["reachable"] = false;
    text += " not reachable";
  }
  output.Record(record, text);
}

bool Reachable(const TAutoIPResult& result) {
  return result.Check && result.Check->Outcome == TReachability::Reachable;
}

int RunAutoIP(const TAutoIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const TVEPNodeID id = DeviceNodeID(options.ID);
  const std::string idText = IDText(id);

  TDeviceScan scan(session);
  scan.Run(options.WaitMs, [&] { return scan.Find(idText) != nullptr; });
  const TDeviceInfo* found = scan.Find(idText);
  if (found == nullptr) {
    return output.Error(1, "device " + idText + " did not answer the scan", {{"id", idText}});
  }
  TAutoIPResult result;
  result.Device = *found;
  result.Address = found->IPAddress;
  Status("found " + idText + " at " + Printable(found->IPAddress) + " through interface " +
         Printable(found->Interface));

  // Auto IP is for a device that does not answer a ping; one that does keeps its address.
  result.Check = CheckAll(session, {found->IPAddress}).front();
  if (!options.Force && Reachable(result)) {
    Status("it already answers a ping; nothing changed (--force changes it anyway)");
    PrintResult(output, result);
    return 0;
  }

  Status("choosing a free address in the subnet of " + Printable(found->Interface) +
         " (one ping per candidate, several at a time)");
  const TAddressChoice choice = ChooseFreeAddress(session, found->Interface);
  if (!choice.Error.empty()) {
    return output.Error(1, "choosing an address failed: " + OneLine(choice.Error),
                        {{"id", idText}, {"interface", found->Interface}});
  }
  if (!choice.Found) {
    return output.Error(
        1, "no free address found in the subnet of interface " + Printable(found->Interface),
        {{"id", idText}, {"interface", found->Interface}});
  }
  const std::string& address = choice.Address;
  // The choice comes from the interface's own settings; a subnet too small or a gateway
  // outside it would still give the device settings that cannot work.
  const TRecord fields = {
      {"id", idText}, {"new_ip", address}, {"mask", choice.Mask}, {"gateway", choice.Gateway}};
  const TIPSettings settings{false, address, choice.Mask, choice.Gateway};
  if (const std::string problem = SendingProblem(settings); !problem.empty())
    return output.Error(2, "refused: " + problem, fields);
  // What this host knows at once, and the devices of the scan; the choice has pinged it.
  TAddressUseCheck use;
  bool checked = false;
  use.Start(address, idText, [&checked] { checked = true; });
  session.Wait([&checked] { return checked; }, -1);
  if (const std::string user = use.User(scan.Devices()); !user.empty())
    return output.Error(2, "refused: " + address + " is already in use by " + user, fields);
  result.Changed = true;
  result.Mask = choice.Mask;
  result.Gateway = choice.Gateway;
  Status("setting " + address + " mask " + choice.Mask + " gateway " + choice.Gateway);
  TDeviceRequest request(session.Vep());
  bool acknowledged = false;
  request.OnAnswer = [&](const TDeviceInfo&) {
    acknowledged = true;
    request.Stop();
  };
  request.SetIP(idText, settings, options.WaitMs);
  session.Wait([&acknowledged] { return acknowledged; }, options.WaitMs);
  request.Stop();
  // The rescan decides: an acknowledgement may be lost while the settings arrived.
  if (!acknowledged)
    Status("no acknowledgement from " + idText + " within " + std::to_string(options.WaitMs) +
           " ms");

  // Replies to the first scan's later broadcasts may still be queued, so the rescan takes the
  // reply from the new address, or else the device's last reply.
  std::optional<TDeviceInfo> latest;
  TDeviceScan rescan(session);
  rescan.OnReply = [&](const TDeviceInfo& reply) {
    if (reply.ID == idText) latest = reply;
  };
  rescan.Run(options.WaitMs, [&] { return latest && latest->IPAddress == address; });
  if (!latest) {
    Status("device " + idText + " did not answer the scan after the change");
    result.Address.clear();
    PrintResult(output, result);
    return 1;
  }
  result.Address = latest->IPAddress;
  result.Check = CheckAll(session, {result.Address}).front();
  PrintResult(output, result);
  return Reachable(result) ? 0 : 1;
}

}  // namespace

void AddAutoIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TAutoIPOptions>();
  CLI::App* command = app.add_subcommand(
      "auto-ip", "Give an unreachable device a free address in the local subnet");
  command->footer(
      "Finds the device by a scan; if it does not answer a ping, chooses a free\n"
      "address (one that answers no ping and that no host holds) in the subnet of\n"
      "the local interface that heard it, sends it as the device's static\n"
      "configuration with that interface's mask and gateway, scans again and checks\n"
      "that the device answers a ping now. Exit 0 only if it does. A chosen address\n"
      "that another device of the scan holds, or settings that cannot work (as set-ip\n"
      "refuses them), are refused with exit 2.");
  command->add_option("ID", options->ID, "The device's ID, e.g. 00:0A:1B:2C:3D:4E")
      ->required()
      ->check(DeviceIDText());
  command->add_flag("--force", options->Force,
                    "Change the address even when the device answers a ping already");
  command->add_option("--wait", options->WaitMs, "Listen this long for each of the two scans")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  command->callback([options, &global, &exitCode] { exitCode = RunAutoIP(*options, global); });
}

}  // namespace scoutor::vepctl
