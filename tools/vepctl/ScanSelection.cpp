#include "tools/vepctl/ScanSelection.h"

#include <optional>

#include "tools/vepctl/ScanInterfaces.h"

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
