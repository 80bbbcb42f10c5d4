// vepctl ping, choose-ip and mac-to-id: the library's address helpers, one call each.
#include <cstdio>
#include <memory>

#include "protocol/VEP.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

int RunPing(const std::string& address, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  const bool reachable = VEPPingDevice(address.c_str()) != 0;
  output.Record({{"address", address}, {"reachable", reachable}},
                address + (reachable ? " reachable" : " not reachable"));
  return reachable ? 0 : 1;
}

int RunChooseIP(const std::string& local, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  char address[16] = {};
  char mask[16] = {};
  char gateway[16] = {};
  if (VEPChooseIPAddress(local.c_str(), address, mask, gateway) == 0) {
    std::fprintf(stderr, "vepctl: no free address found in the subnet of interface %s\n",
                 local.c_str());
    return 1;
  }
  output.Record({{"interface", local}, {"ip", address}, {"mask", mask}, {"gateway", gateway}},
                std::string("ip=") + address + " mask=" + mask + " gateway=" + gateway);
  return 0;
}

int RunMacToID(const std::string& text, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  // Bytes the text does not set stay zero.
  TVEPNodeID id{};
  VEPMacToID(text.c_str(), id.data());
  char hex[3 * sizeof id];
  for (std::size_t i = 0; i < id.size(); ++i)
    std::snprintf(hex + 3 * i, sizeof hex - 3 * i, i + 1 < id.size() ? "%2.2X " : "%2.2X", id[i]);
  output.Record({{"id_text", text}, {"node_id", hex}}, hex);
  return 0;
}

}  // namespace

void AddPingCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto address = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "ping", "Check whether an address answers a ping");
  command->footer(
      "Sends one ICMP echo request and waits up to 5 s. Exit 0 when it is answered.");
  command->add_option("ADDRESS", *address, "Dotted IPv4 address")
      ->required()
      ->check(CLI::ValidIPV4);
  command->callback([address, &global, &exitCode] { exitCode = RunPing(*address, global); });
}

void AddChooseIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto local = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "choose-ip", "Find a free address in the subnet of a local interface");
  command->footer(
      "Tries the addresses after the interface's own, one ping each, and prints the\n"
      "first that does not answer with the interface's mask and gateway. Exit 1\n"
      "when none is found.");
  command->add_option("LOCAL-ADDRESS", *local, "Dotted address of a local interface")
      ->required()
      ->check(CLI::ValidIPV4);
  command->callback([local, &global, &exitCode] { exitCode = RunChooseIP(*local, global); });
}

void AddMacToIDCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto text = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "mac-to-id", "Print the 8-byte node ID of a device's ID text");
  command->footer(
      "Prints the bytes in hexadecimal; bytes the text does not give stay 00.");
  command->add_option("TEXT", *text, "ID text, e.g. 00:0A:1B:2C:3D:4E")->required();
  command->callback([text, &global, &exitCode] { exitCode = RunMacToID(*text, global); });
}

}  // namespace scoutor::vepctl
