// vepctl get-ip and set-ip: ask a device for its IP settings or send it new ones, and wait for
// the answer as the IP address dialog does (3 s unless --wait says otherwise).
#include <cstdio>
#include <memory>
#include <optional>

#include "protocol/VepWire.h"
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
  int WaitMs = kAnswerWaitMs;
};

// Sends a request with `send` and waits for the first answer that names the device; the
// answer's record, or nothing after `waitMs`. Answers from other devices are not taken.
std::optional<TDeviceInfo> Ask(TSession& session, const TVEPNodeID& device, int waitMs,
                               const std::function<void(TVEPInterface&)>& send) {
  const std::string expected = IDText(device);
  std::optional<TDeviceInfo> answer;
  TVEPInterface& vep = session.Vep();
  vep.OnIPConfig.Set(&answer, [&answer, &expected](TVEPInterface&, const TDeviceInfo& info) {
    if (!answer && info.ID == expected) answer = info;
  });
  send(vep);
  session.Wait([&answer] { return answer.has_value(); }, waitMs);
  vep.OnIPConfig.Set(nullptr, {});
  if (!answer)
    std::fprintf(stderr, "vepctl: Communication Failed: no answer from %s within %d ms\n",
                 expected.c_str(), waitMs);
  return answer;
}

int RunGetIP(const TGetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  const std::optional<TDeviceInfo> settings =
      Ask(session, device, options.WaitMs, [&device](TVEPInterface& vep) { vep.GetIP(device); });
  if (!settings) return 1;
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

int RunSetIP(const TSetIPOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const TVEPNodeID device = DeviceNodeID(options.ID);
  // With DHCP the device takes no static values; zeros travel in their place.
  const std::string address = options.DHCP ? "0.0.0.0" : options.Address;
  const std::string mask = options.DHCP ? "0.0.0.0" : options.Mask;
  const std::string gateway = options.DHCP ? "0.0.0.0" : options.Gateway;
  const std::optional<TDeviceInfo> acknowledgement =
      Ask(session, device, options.WaitMs, [&](TVEPInterface& vep) {
        vep.SetIP(device, address, mask, gateway, options.DHCP);
      });
  if (!acknowledgement) return 1;
  const TRecord record = {{"id", acknowledgement->ID},
                          {"acknowledged", true},
                          {"ip", acknowledgement->IPAddress}};
  output.Record(record, "id=" + Printable(acknowledgement->ID) + " acknowledged from ip=" +
                            Printable(acknowledgement->IPAddress));
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
  CLI::App* command = app.add_subcommand(
      "get-ip", "Ask a device for its IP settings");
  command->footer(
      "Prints the settings the device reports. Exit 1 without an answer.");
  command->add_option("ID", options->ID, "The device's ID, e.g. 00:0A:1B:2C:3D:4E")
      ->required()
      ->check(DeviceIDText());
  AddWaitOption(*command, options->WaitMs);
  command->callback([options, &global, &exitCode] { exitCode = RunGetIP(*options, global); });
}

void AddSetIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TSetIPOptions>();
  CLI::App* command = app.add_subcommand(
      "set-ip", "Send a device new IP settings (DHCP or static)");
  command->footer(
      "Give either --dhcp or all of --ip, --mask and --gateway. Prints the device's\n"
      "acknowledgement. Exit 1 without an answer.");
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
  AddWaitOption(*command, options->WaitMs);
  command->callback([options, dhcp, address, &global, &exitCode] {
    if (dhcp->count() == 0 && address->count() == 0)
      throw CLI::RequiredError("--dhcp or --ip with --mask and --gateway");
    exitCode = RunSetIP(*options, global);
  });
}

}  // namespace scoutor::vepctl
