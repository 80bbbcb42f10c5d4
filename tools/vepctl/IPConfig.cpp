// vepctl get-ip and set-ip: ask a device for its IP settings or send it new ones, and wait for
// the answer as the IP address dialog does (3 s unless --wait says otherwise); set-ip --plan
// hands over to PlanCommand.h.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/IPSettings.h"
#include "hostnet/ReachabilityService.h"
#include "protocol/VepWire.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/PlanCheck.h"
#include "tools/vepctl/PlanCommand.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

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
  TSession session(global.Debug);
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
  TReachabilityService service(MainLoop());
  TAddressUseCheck check({[&service](const std::string& candidate, TCheckDone done) {
                            return service.Check(candidate, std::move(done));
                          },
                          [&service](TCheckId id) { service.Cancel(id); }});
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
  TSession session(global.Debug);
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

}  // namespace scoutor::vepctl
