
#include "tools/vepctl/Options.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <regex>

#include "protocol/VEP.h"
#include "tools/vepctl/Commands.h"
#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

const CLI::Validator& IPv4Text() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        const std::optional<std::string> canonical = CanonicalIPv4(text);
        if (!canonical) return "not a dotted IPv4 address (four numbers 0 to 255): " + text;
        text = *canonical;
        return {};
      },
      "IPV4");
  return validator;
}

const CLI::Validator& DeviceIDText() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        static const std::regex pattern("[0-9A-Fa-f]{1,2}(:[0-9A-Fa-f]{1,2}){5}");
        if (std::regex_match(text, pattern)) return {};
        return "not a device ID (six hexadecimal bytes joined by colons, e.g. "
               "00:0A:1B:2C:3D:4E): " +
               text;
      },
      "ID");
  return validator;
}

TVEPNodeID DeviceNodeID(const std::string& idText) {
  TVEPNodeID id{};
  VEPMacToID(idText.c_str(), id.data());
  return id;
}

std::vector<TLocalInterface> ScanInterfaces() {
  std::vector<TLocalInterface> usable;
  for (const TLocalInterface& local : TLocalInterfaces::List())
    if (local.Up && !local.Loopback && local.Broadcast) usable.push_back(local);
  return usable;
}

std::vector<TLocalInterface> ChosenInterfaces(const std::vector<TLocalInterface>& interfaces,
                                              const std::string& choice) {
  const std::optional<std::string> address = CanonicalIPv4(choice);
  std::vector<TLocalInterface> chosen;
  for (const TLocalInterface& local : interfaces)
    if (local.Device == choice || (address && local.Address == *address)) chosen.push_back(local);
  return chosen;
}

std::string DescribeInterfaces(const std::vector<TLocalInterface>& interfaces) {
  std::string names;
  for (const TLocalInterface& local : interfaces) {
    if (!names.empty()) names += ", ";
    names += local.Device + " " + local.Address;
  }
  return names.empty() ? "no interface that is up with an IPv4 address and broadcast" : names;
}

namespace {

const CLI::Validator& FilterExpression() {
  static const CLI::Validator validator(
      [](const std::string& text) {
        std::string problem;
        TDeviceFilter::Parse(text, problem);
        return problem;
      },
      "");
  return validator;
}

const CLI::Validator& ScanInterface() {
  static const CLI::Validator validator(
      [](const std::string& text) -> std::string {
        const std::vector<TLocalInterface> usable = ScanInterfaces();
        if (!ChosenInterfaces(usable, text).empty()) return {};
        return "no interface '" + text +
               "' to ask through (up, with an IPv4 address and broadcast); there are: " +
               DescribeInterfaces(usable);
      },
      "");
  return validator;
}

}  // namespace

void TScanSelection::AddOptions(CLI::App& command) {
  command
      .add_option("--filter", FilterTexts,
                  "Show only the devices that match: a subnet (10.0.0.0/24) for the IP\n"
                  "address, else a pattern (cam*) for the name or the type, any case;\n"
                  "repeated, all must match")
      ->type_name("EXPR")
      ->check(FilterExpression())
      ->each([this](const std::string& text) {
        std::string problem;
        if (std::optional<TDeviceFilter> filter = TDeviceFilter::Parse(text, problem))
          Filters.push_back(*filter);
      });
  command
      .add_option("--interface", Interface,
                  "Ask only through this local interface (its name, e.g. eth0, or its\n"
                  "IPv4 address)")
      ->type_name("NAME|ADDRESS")
      ->check(ScanInterface());
}

bool TScanSelection::Selects(const TDeviceInfo& device) const {
  return MatchesAll(Filters, device);
}

std::vector<TLocalInterface> TScanSelection::Interfaces() const {
  const std::vector<TLocalInterface> usable = ScanInterfaces();
  return Interface.empty() ? usable : ChosenInterfaces(usable, Interface);
}

void TScanSelection::Restrict(TSession& session,
                                const std::vector<TLocalInterface>& interfaces) const {
  if (Interface.empty()) return;
  std::vector<std::string> addresses;
  for (const TLocalInterface& local : interfaces) addresses.push_back(local.Address);
  session.AskOnlyThrough(std::move(addresses));
}

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string UnknownCommand(int argc, const char* const* argv,
                           const std::vector<std::string>& commands) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("-")) continue;
    if (std::find(commands.begin(), commands.end(), argument) != commands.end()) return {};
    return argument;
  }
  return {};
}

std::string ClosestCommand(const std::string& name, const std::vector<std::string>& commands) {
  std::string closest;
  // A guess that needs more edits than half the name is no guess.
  std::size_t best = name.size() / 2 + 1;
  for (const std::string& command : commands) {
    const std::size_t distance = EditDistance(name, command);
    if (distance < best) {
      best = distance;
      closest = command;
    }
  }
  return closest;
}

}  // namespace scoutor::vepctl
