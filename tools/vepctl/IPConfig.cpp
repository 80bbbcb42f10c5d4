// vepctl get-ip and set-ip: ask a device for its IP settings or send it new ones, and wait for
// the answer as the IP address dialog does (3 s unless --wait says otherwise).
#include <cstdio>
#include <memory>
#include <optional>

#include "protocol/VepWire.h"
#include "tools/vepctl/AddressSafety.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Output.h"
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

// Sends a get-IP request and waits for the first answer that names the device; the answer's
// record, or nothing after `waitMs`. Answers from other devices are not taken, nor a set-IP
// acknowledgement (a late one, to an earlier set-ip): OnIPSet follows OnIPConfig for the same
// event at once and takes back what OnIPConfig took from it.
std::optional<TDeviceInfo> Ask(TSession& session, const TVEPNodeID& device, int waitMs) {
  const std::string expected = IDText(device);
  std::optional<TDeviceInfo> answer;
  bool justTaken = false;
  TVEPInterface& vep = session.Vep();
  vep.OnIPConfig.Set(&answer, [&](TVEPInterface&, const TDeviceInfo& info) {
    justTaken = !answer && info.ID == expected;
    if (justTaken) answer = info;
  });
  vep.OnIPSet.Set(&answer, [&](TVEPInterface&, const TDeviceInfo&) {
    if (justTaken) answer.reset();
    justTaken = false;
  });
  vep.GetIP(device);
  session.Wait([&answer] { return answer.has_value(); }, waitMs);
  vep.OnIPConfig.Set(nullptr, {});
  vep.OnIPSet.Set(nullptr, {});
  return answer;
}

int RunGetIP(const TGetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  const std::optional<TDeviceInfo> settings = Ask(session, device, options.WaitMs);
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

// Waits for the device's set-IP acknowledgement; a get-IP reply still on its way (a reply to
// an earlier get-ip) is no acknowledgement.
std::optional<TDeviceInfo> AwaitAcknowledgement(TSession& session, const std::string& expected,
                                                int waitMs) {
  std::optional<TDeviceInfo> acknowledgement;
  TVEPInterface& vep = session.Vep();
  vep.OnIPSet.Set(&acknowledgement, [&](TVEPInterface&, const TDeviceInfo& info) {
    if (!acknowledgement && info.ID == expected) acknowledgement = info;
  });
  session.Wait([&acknowledgement] { return acknowledgement.has_value(); }, waitMs);
  vep.OnIPSet.Set(nullptr, {});
  return acknowledgement;
}

int RunSetIP(const TSetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  const std::string idText = IDText(device);
  TRecord fields = {{"id", idText}, {"dhcp", options.DHCP}};
  if (!options.DHCP) {
    fields["new_ip"] = options.Address;
    fields["mask"] = options.Mask;
    fields["gateway"] = options.Gateway;
    const std::string problem = SettingsProblem(options.Address, options.Mask, options.Gateway);
    if (!problem.empty()) return output.Error(2, "refused: " + problem, fields);
  }
  TSession session(global.Debug);
  if (!options.DHCP && !options.Force) {
    const std::string user = AddressUser(session, options.Address, idText, options.WaitMs);
    if (!user.empty())
      return output.Error(2,
                          "refused: " + options.Address + " is already in use by " + user +
                              " (--force sends it anyway)",
                          fields);
  }
  // With DHCP the device takes no static values; zeros travel in their place.
  const std::string address = options.DHCP ? "0.0.0.0" : options.Address;
  const std::string mask = options.DHCP ? "0.0.0.0" : options.Mask;
  const std::string gateway = options.DHCP ? "0.0.0.0" : options.Gateway;
  session.Vep().SetIP(device, address, mask, gateway, options.DHCP);
  const std::optional<TDeviceInfo> acknowledgement =
      AwaitAcknowledgement(session, idText, options.WaitMs);
  if (!acknowledgement)
    return output.Error(1,
                        "Communication Failed: no acknowledgement from " + idText + " within " +
                            std::to_string(options.WaitMs) + " ms",
                        fields);
  TRecord record = fields;
  record["acknowledged"] = true;
  record["ack_from"] = acknowledgement->IPAddress;
  output.Record(record, "id=" + idText + " acknowledged" +
                            (options.DHCP ? std::string(" dhcp=on") : " new_ip=" + address) +
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
  CLI::App* command =
      app.add_subcommand("set-ip", "Send a device new IP settings (DHCP or static)");
  command->footer(
      "Give either --dhcp or all of --ip, --mask and --gateway (--gateway 0.0.0.0: none).\n"
      "Refused (exit 2, nothing sent): 0.0.0.0 or 255.255.255.255, the subnet's network\n"
      "or broadcast address, a mask that is not one run of ones or longer than /30, a\n"
      "gateway outside the subnet; and unless --force, an address already in use (by\n"
      "this host, by another device that answers a scan, by anything that answers a\n"
      "ping or that the kernel's neighbour table holds). Prints the new address and\n"
      "where the acknowledgement came from. Exit 1 without an acknowledgement.");
  command->add_option("ID", options->ID, "The device's ID, e.g. 00:0A:1B:2C:3D:4E")
      ->required()
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
  command->callback([options, dhcp, address, &global, &exitCode] {
    if (dhcp->count() == 0 && address->count() == 0)
      throw CLI::RequiredError("--dhcp or --ip with --mask and --gateway");
    exitCode = RunSetIP(*options, global);
  });
}

}  // namespace scoutor::vepctl
