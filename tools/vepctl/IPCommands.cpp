// vepctl's commands for a device's IP settings and the address helpers: get-ip, set-ip (its
// --plan form is Plans.h), auto-ip, ping, choose-ip and mac-to-id.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/IPSettings.h"
#include "hostnet/ReachabilityService.h"
#include "protocol/VEP.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Listing.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Plans.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// vepctl get-ip and set-ip: ask a device for its IP settings or send it new ones, and wait for
// the answer as the IP address dialog does (3 s unless --wait says otherwise); set-ip --plan
// hands over to Plans.h.
namespace {

constexpr int kAnswerWaitMs = 3000;

struct TGetIPOptions {
  std::string ID;
  int WaitMs = kAnswerWaitMs;
};

struct TSetIPOptions {
  std::string ID;
  bool DHCP = false;
  std::string Address;
  std::string Mask;
  std::string Gateway;
  bool Force = false;
  int WaitMs = kAnswerWaitMs;
};

// Sends a request (`send` calls `request` with `waitMs` as its time-out) and waits for its
// answer: the device's first reply of the request's own kind (a get-IP reply never
// acknowledges a set-IP, nor the other way round); nothing after `waitMs`. The wait itself is
// bounded too, since a request's time-out of 0 means none and --wait 0 asks for no wait.
std::optional<TDeviceInfo> Await(TSession& session, TDeviceRequest& request, int waitMs,
                                 const std::function<void()>& send) {
  std::optional<TDeviceInfo> answer;
  request.OnAnswer = [&](const TDeviceInfo& reply) {
    answer = reply;
    request.Stop();
  };
  send();
  session.Wait([&answer] { return answer.has_value(); }, waitMs);
  request.Stop();
  return answer;
}

int RunGetIP(const TGetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  TDeviceRequest request(session.Vep());
  const std::optional<TDeviceInfo> settings =
      Await(session, request, options.WaitMs,
            [&] { request.GetIP(IDText(device), options.WaitMs); });
  if (!settings)
    return output.Error(1,
                        "Communication Failed: no answer from " + IDText(device) + " within " +
                            std::to_string(options.WaitMs) + " ms",
                        {{"id", IDText(device)}});
  const TRecord record = {{"id", settings->ID},
                          {"dhcp", settings->DHCP},
                          {"ip", settings->IPAddress},
                          {"mask", settings->SubnetMask},
                          {"gateway", settings->DefaultGateway},
                          {"interface", settings->Interface}};
  output.Record(record, "id=" + Printable(settings->ID) +
                            " dhcp=" + (settings->DHCP ? "on" : "off") +
                            " ip=" + Printable(settings->IPAddress) +
                            " mask=" + Printable(settings->SubnetMask) +
                            " gateway=" + Printable(settings->DefaultGateway) +
                            " interface=" + Printable(settings->Interface));
  return 0;
}

// Who already uses `address`, or empty (AddressUse.h). The ping runs while a scan listens
// `scanWaitMs`; a device heard from the address decides at once, without the ping.
std::string AddressUser(TSession& session, const std::string& address,
                        const std::string& deviceID, int scanWaitMs) {
  TAddressUseCheck check(ChecksOf(session.Reachability()));
  bool checked = false;
  check.Start(address, deviceID, [&checked] { checked = true; });
  TDeviceScan scan(session);
  bool heardThere = false;
  scan.OnReply = [&](const TDeviceInfo& reply) { heardThere |= reply.IPAddress == address; };
  scan.Run(scanWaitMs, [&heardThere] { return heardThere; });
  if (!heardThere) session.Wait([&checked] { return checked; }, -1);
  const std::string user = check.User(scan.Devices());
  check.Cancel();
  return user;
}

int RunSetIP(const TSetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  const std::string idText = IDText(device);
  TRecord fields = {{"id", idText}, {"dhcp", options.DHCP}};
  const TIPSettings settings{options.DHCP, options.Address, options.Mask, options.Gateway};
  if (!options.DHCP) {
    fields["new_ip"] = options.Address;
    fields["mask"] = options.Mask;
    fields["gateway"] = options.Gateway;
  }
  if (const std::string problem = SendingProblem(settings); !problem.empty())
    return output.Error(2, "refused: " + problem, fields);
  TSession session(global);
  if (!options.DHCP && !options.Force) {
    const std::string user = AddressUser(session, options.Address, idText, options.WaitMs);
    if (!user.empty())
      return output.Error(2, "refused: " + InUseProblem(options.Address, user), fields);
  }
  TDeviceRequest request(session.Vep());
  const std::optional<TDeviceInfo> acknowledgement =
      Await(session, request, options.WaitMs,
            [&] { request.SetIP(idText, settings, options.WaitMs); });
  if (!acknowledgement)
    return output.Error(1,
                        "Communication Failed: no acknowledgement from " + idText + " within " +
                            std::to_string(options.WaitMs) + " ms",
                        fields);
  TRecord record = fields;
  record["acknowledged"] = true;
  record["ack_from"] = acknowledgement->IPAddress;
  output.Record(record, "id=" + idText + " acknowledged" +
                            (options.DHCP ? std::string(" dhcp=on") : " new_ip=" + SettingsToSend(settings).Address) +
                            " ack_from=" + Printable(acknowledgement->IPAddress));
  return 0;
}

void AddWaitOption(CLI::App& command, int& waitMs) {
  command.add_option("--wait", waitMs, "Wait this long for the device's answer")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
}

}  // namespace

void AddGetIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TGetIPOptions>();
  CLI::App* command = app.add_subcommand("get-ip", "Ask a device for its IP settings");
  command->footer("Prints the settings the device reports. Exit 1 without an answer.");
  command->add_option("ID", options->ID, "The device's ID, e.g. 00:0A:1B:2C:3D:4E")
      ->required()
      ->check(DeviceIDText());
  AddWaitOption(*command, options->WaitMs);
  command->callback([options, &global, &exitCode] { exitCode = RunGetIP(*options, global); });
}

void AddSetIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TSetIPOptions>();
  auto plan = std::make_shared<TPlanOptions>();
  CLI::App* command =
      app.add_subcommand("set-ip", "Send a device new IP settings (DHCP or static)");
  command->footer(
      "Give either --dhcp or all of --ip, --mask and --gateway (--gateway 0.0.0.0: none).\n"
      "Refused (exit 2, nothing sent): 0.0.0.0 or 255.255.255.255, the subnet's network\n"
      "or broadcast address, a mask that is not one run of ones or longer than /30, a\n"
      "gateway outside the subnet; and unless --force, an address already in use (by\n"
      "this host, by another device that answers a scan, by anything that answers a\n"
      "ping or that the kernel's neighbour table holds). Prints the new address and\n"
      "where the acknowledgement came from. Exit 1 without an acknowledgement.\n"
      "\n"
      "--plan FILE sets many devices instead: a CSV file whose header line names the\n"
      "columns id,dhcp,ip,mask,gateway (any order), one row per device (dhcp: 1/0,\n"
      "yes/no or true/false; a DHCP row leaves ip, mask and gateway empty); lines\n"
      "beginning with # and blank lines are skipped. Each row is checked as above, no\n"
      "device or address may come twice, every device must answer one scan and, unless\n"
      "--force, no address may be in use. Any problem refuses the whole plan: each is\n"
      "listed as FILE:LINE: ..., exit 2, nothing sent. --dry-run stops after the checks\n"
      "(\"plan OK: N devices\"). Otherwise every device is sent its settings, at most\n"
      "--in-flight at a time; its acknowledgement, then its settings read back (get-IP)\n"
      "are awaited, --wait each. One line per device (ID ok IP, or ID failed REASON),\n"
      "then \"applied N of M; K failed\". Exit 1 when any device failed.");
  CLI::Option* id =
      command->add_option("ID", options->ID, "The device's ID, e.g. 00:0A:1B:2C:3D:4E")
          ->check(DeviceIDText());
  CLI::Option* dhcp =
      command->add_flag("--dhcp", options->DHCP, "Obtain the address automatically (DHCP)");
  CLI::Option* address =
      command->add_option("--ip", options->Address, "Static address")->transform(IPv4Text());
  CLI::Option* mask =
      command->add_option("--mask", options->Mask, "Subnet mask")->transform(IPv4Text());
  CLI::Option* gateway =
      command->add_option("--gateway", options->Gateway, "Default gateway")->transform(IPv4Text());
  address->needs(mask)->needs(gateway);
  mask->needs(address);
  gateway->needs(address);
  dhcp->excludes(address)->excludes(mask)->excludes(gateway);
  command->add_flag("--force", options->Force, "Send an address even when it is in use");
  AddWaitOption(*command, options->WaitMs);
  CLI::Option* planFile =
      command->add_option("--plan", plan->File, "Set every device of a CSV file (see below)")
          ->option_text("FILE.csv");
  CLI::Option* dryRun =
      command->add_flag("--dry-run", plan->DryRun, "With --plan: check the plan, send nothing");
  CLI::Option* inFlight =
      command->add_option("--in-flight", plan->InFlight, "With --plan: devices under way at once")
          ->option_text("N (default 16)")
          ->check(CLI::Range(1, 1024));
  planFile->excludes(id)->excludes(dhcp)->excludes(address)->excludes(mask)->excludes(gateway);
  dryRun->needs(planFile);
  inFlight->needs(planFile);
  command->callback([options, plan, id, dhcp, address, planFile, &global, &exitCode] {
    if (planFile->count() > 0) {
      plan->Force = options->Force;
      plan->WaitMs = options->WaitMs;
      exitCode = RunIPPlan(*plan, global);
      return;
    }
    if (id->count() == 0) throw CLI::RequiredError("ID (or --plan FILE.csv)");
    if (dhcp->count() == 0 && address->count() == 0)
      throw CLI::RequiredError("--dhcp or --ip with --mask and --gateway");
    exitCode = RunSetIP(*options, global);
  });
}

// vepctl auto-ip: the main window's Auto IP. Finds the device by a scan, chooses a free address
// in the subnet of the local interface that heard it, sends that as its static configuration,
// scans again and checks that the device now answers a ping.
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
  TSession session(global);
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
    return output.Error(2, "refused: " + InUseText(address, user), fields);
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

// vepctl ping, choose-ip and mac-to-id: the library's address helpers, one call each.
namespace {

int RunPing(const std::string& address, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global);
  const TCheckResult check = CheckAll(session, {address}).front();
  TRecord record = {{"address", address}};
  const std::string outcome = AddReachability(record, check);
  output.Record(record, address + " " + outcome);
  return check.Outcome == TReachability::Reachable ? 0 : 1;
}

int RunChooseIP(const std::string& local, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global);
  const TAddressChoice choice = ChooseFreeAddress(session, local);
  if (!choice.Error.empty())
    return output.Error(1, "choosing an address failed: " + OneLine(choice.Error),
                        {{"interface", local}});
  if (!choice.Found)
    return output.Error(1, "no free address found in the subnet of interface " + local,
                        {{"interface", local}});
  output.Record({{"interface", local},
                 {"ip", choice.Address},
                 {"mask", choice.Mask},
                 {"gateway", choice.Gateway}},
                "ip=" + choice.Address + " mask=" + choice.Mask + " gateway=" + choice.Gateway);
  return 0;
}

int RunMacToID(const std::string& text, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  const TVEPNodeID id = DeviceNodeID(text);
  char hex[3 * sizeof id];
  for (std::size_t i = 0; i < id.size(); ++i)
    std::snprintf(hex + 3 * i, sizeof hex - 3 * i, i + 1 < id.size() ? "%2.2X " : "%2.2X", id[i]);
  output.Record({{"id_text", text}, {"node_id", hex}}, hex);
  return 0;
}

}  // namespace

void AddPingCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto address = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand("ping", "Check whether an address answers a ping");
  command->footer(
      "Sends one ICMP echo request and waits up to 5 s. Exit 0 when it is answered;\n"
      "a check that could not be made is shown as failed, with the reason.");
  command->add_option("ADDRESS", *address, "Dotted IPv4 address")
      ->required()
      ->transform(IPv4Text());
  command->callback([address, &global, &exitCode] { exitCode = RunPing(*address, global); });
}

void AddChooseIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto local = std::make_shared<std::string>();
  CLI::App* command =
      app.add_subcommand("choose-ip", "Find a free address in the subnet of a local interface");
  command->footer(
      "Tries the addresses after the interface's own, one ping each, several at a\n"
      "time, and prints the first that does not answer and that no host holds (its\n"
      "link-layer address unknown to the kernel), with the interface's mask and\n"
      "gateway. Exit 1 when none is found.");
  command->add_option("LOCAL-ADDRESS", *local, "Dotted address of a local interface")
      ->required()
      ->transform(IPv4Text());
  command->callback([local, &global, &exitCode] { exitCode = RunChooseIP(*local, global); });
}

void AddMacToIDCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto text = std::make_shared<std::string>();
  CLI::App* command =
      app.add_subcommand("mac-to-id", "Print the 8-byte node ID of a device's ID text");
  command->footer(
      "Prints the bytes in hexadecimal. The text is checked as every command checks an\n"
      "ID: six hexadecimal bytes joined by colons, else a usage error (exit 2).");
  command->add_option("TEXT", *text, "ID text, e.g. 00:0A:1B:2C:3D:4E")
      ->required()
      ->check(DeviceIDText());
  command->callback([text, &global, &exitCode] { exitCode = RunMacToID(*text, global); });
}

}  // namespace scoutor::vepctl
