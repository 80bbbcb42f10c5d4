#include "tools/vepctl/SharedAddresses.h"

#include <algorithm>

#include "appmodel/DeviceOrder.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

std::vector<TSharedAddress> SharedAddresses(const std::vector<TDeviceInfo>& devices) {
  std::vector<TDeviceInfo> byAddress = devices;
  SortDevices(byAddress, TDeviceOrder::IP);  // and by ID within one address
  std::vector<TSharedAddress> shared;
  for (std::size_t first = 0; first < byAddress.size();) {
    std::size_t end = first + 1;
    while (end < byAddress.size() && byAddress[end].IPAddress == byAddress[first].IPAddress) ++end;
    if (end - first > 1) {
      TSharedAddress entry{byAddress[first].IPAddress, {}};
      for (std::size_t i = first; i < end; ++i) entry.IDs.push_back(byAddress[i].ID);
      shared.push_back(std::move(entry));
    }
    first = end;
  }
  return shared;
}

bool IsShared(const std::vector<TSharedAddress>& shared, const std::string& address) {
  return std::any_of(shared.begin(), shared.end(),
                     [&address](const TSharedAddress& entry) { return entry.Address == address; });
}

std::string SharedAddressText(const TSharedAddress& shared) {
  std::string text = std::to_string(shared.IDs.size()) + " devices share IP address " +
                     Printable(shared.Address) + ":";
  for (std::size_t i = 0; i < shared.IDs.size(); ++i)
    text += (i == 0 ? " " : ", ") + Printable(shared.IDs[i]);
  return text;
}

}  // namespace scoutor::vepctl
