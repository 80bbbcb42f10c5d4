#pragma once
// The host's IPv4 configuration as the Linux kernel reports it for the calling thread's network
// namespace: interfaces in index order (loopback counted as an interface but not listed as an
// adapter), addresses and masks from getifaddrs, and each interface's default gateway from the
// main routing table, read over rtnetlink. Stateless; callable from any thread.
#include "hostnet/AdapterPlatform.h"

namespace scoutor {

class TLinuxAdapterPlatform final : public TAdapterPlatform {
 public:
  // Nothing to load: the kernel answers directly.
  bool Load(std::string& failureText) override;
  std::optional<std::size_t> InterfaceCount() override;
  std::optional<std::vector<TAdapterRecord>> Adapters() override;
};

}  // namespace scoutor
