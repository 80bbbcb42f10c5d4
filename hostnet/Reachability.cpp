#include "hostnet/Reachability.h"

#include <memory>

#include "transport/IcmpEchoClient.h"

namespace scoutor {

bool PingAddress(const std::string& address) {
  const auto client = std::make_unique<TIcmpEchoClient>();
  client->Host = address;
  client->PingOnce();
  return client->ReplyStatus().ReplyKind == rkEcho;
}

}  // namespace scoutor
