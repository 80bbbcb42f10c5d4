#include "hostnet/AddressChoice.h"

#include <arpa/inet.h>

#include <cstdint>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"

namespace scoutor {

bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway, const TReachabilityCheck& answers) {
  std::uint32_t local = HostOrderAddress(localAddress);
  std::uint32_t localMask = 0;
  std::uint32_t localGateway = 0;
  if (!FindLocalAddress(local, localMask, localGateway)) return false;

  const std::uint32_t network = local & localMask;
  const std::uint32_t own = local & ~localMask;
  const std::uint32_t top = ~localMask;  // the broadcast number

  // At most every host number once: the loop ends when it comes round to the local host's own.
  std::uint32_t number = (own + 1) & top;
  do {
    if (number != 0 && number != top) {
      const std::uint32_t candidate = network | number;
      if (!answers(FormatIPv4(htonl(candidate)))) {
        address = FormatIPv4(htonl(candidate));
        mask = FormatIPv4(htonl(localMask));
        gateway = FormatIPv4(htonl(localGateway));
        return true;
      }
    }
    number = (number + 1) & top;
  } while (number != own);
  return false;
}

}  // namespace scoutor
