#pragma once
// The host's own IPv4 configuration: the single place that reads the local adapters, their
// addresses, masks and first gateways. Nothing is cached: every call asks the installed
// adapter source again, so a change of the host's configuration is seen by the next call.
// Meant for one thread at a time (the main thread); the source reads the network namespace of
// the calling thread. Configuration problems are shown in "HalvexVEP Error" notices.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hostnet/AdapterPlatform.h"

namespace scoutor {

// One fetched adapter list: the adapters in the platform's order, each with its address
// entries (an entry whose address is 0.0.0.0 is not a configured address).
struct TAdapterList {
  std::vector<TAdapterRecord> Adapters;
};

// True when the adapter source is usable. A success is kept for good; a failure shows its
// notice and is tried (and shown) again by the next call.
bool LoadAdapterAccess();

// The number of network interfaces (loopback included) less one; 0 on any failure.
std::size_t CountAdapters();

// The current adapter list; none when it cannot be read.
std::unique_ptr<TAdapterList> GetAdapterList();
// Gives back a list from GetAdapterList.
void FreeAdapterList(std::unique_ptr<TAdapterList> list);

// Looks up a configured local address; all values in host order. `address` is the wanted
// address, or 0 for the first configured one. True when found: `address` holds it, `mask` and
// `gateway` its mask and its adapter's first gateway. When the configuration cannot be read:
// false with all three untouched. When not found: false with `mask` and `gateway` of the first
// configured address (0 when there is none); `address` is then the last address examined, 0
// when the wanted address was 0.
bool FindLocalAddress(std::uint32_t& address, std::uint32_t& mask, std::uint32_t& gateway);

// The adapter source in use: the Linux one unless another was installed.
TAdapterPlatform& AdapterPlatform();
// Installs `platform` (nullptr: back to the Linux source); the caller keeps ownership. The
// source starts out not loaded.
void SetAdapterPlatform(TAdapterPlatform* platform);

}  // namespace scoutor
