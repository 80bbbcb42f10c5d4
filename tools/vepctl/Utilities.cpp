// vepctl ping, choose-ip and mac-to-id: the library's address helpers, one call each.
#include <cstdio>
#include <memory>

#include "protocol/VEP.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceRecord.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Reachability.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

int RunPing(const std::string& address, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const TCheckResult check = CheckAll(session, {address}).front();
  TRecord record = {{"address", address}};
  const std::string outcome = AddReachability(record, check);
  output.Record(record, address + " " + outcome);
  return check.Outcome == TReachability::Reachable ? 0 : 1;
}

int RunChooseIP(const std::string& local, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
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
