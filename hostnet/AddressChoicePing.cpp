#include "hostnet/AddressChoice.h"
#include "hostnet/Reachability.h"

namespace scoutor {

bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway) {
  return ChooseIPAddress(localAddress, address, mask, gateway, PingAddress);
}

}  // namespace scoutor
