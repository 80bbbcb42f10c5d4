#include "hostnet/CandidateOrder.h"

#include <arpa/inet.h>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"

namespace scoutor {

std::optional<TCandidateOrder> TCandidateOrder::ForLocalAddress(const std::string& localAddress) {
  std::uint32_t local = HostOrderAddress(localAddress);
  std::uint32_t mask = 0;
  std::uint32_t gateway = 0;
  if (!FindLocalAddress(local, mask, gateway)) return std::nullopt;
  return TCandidateOrder(local, mask, gateway);
}

TCandidateOrder::TCandidateOrder(std::uint32_t local, std::uint32_t mask, std::uint32_t gateway)
    : Network(local & mask),
      Own(local & ~mask),
      Top(~mask),
      Number((Own + 1) & Top),
      Ended(false),
      MaskText(FormatIPv4(htonl(mask))),
      GatewayText(FormatIPv4(htonl(gateway))) {}

std::optional<std::string> TCandidateOrder::Next() {
  // At most every host number once: the order ends when it comes round to the local host's.
  while (!Ended) {
    const std::uint32_t number = Number;
    Number = (Number + 1) & Top;
    Ended = Number == Own;
    if (number != 0 && number != Top) return FormatIPv4(htonl(Network | number));
  }
  return std::nullopt;
}

}  // namespace scoutor
