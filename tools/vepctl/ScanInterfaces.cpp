#include "tools/vepctl/ScanInterfaces.h"

#include <optional>

#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
