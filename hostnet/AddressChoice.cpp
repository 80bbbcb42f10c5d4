#include "hostnet/AddressChoice.h"

#include "hostnet/CandidateOrder.h"

namespace scoutor {

bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway, const TReachabilityCheck& answers) {
  std::optional<TCandidateOrder> order = TCandidateOrder::ForLocalAddress(localAddress);
  if (!order) return false;
  while (const std::optional<std::string> candidate = order->Next()) {
    if (!answers(*candidate)) {
      address = *candidate;
      mask = order->Mask();
      gateway = order->Gateway();
      return true;
    }
  }
  return false;
}

}  // namespace scoutor
