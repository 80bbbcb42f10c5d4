#pragma once
// Which addresses of the directly attached subnets a host holds as far as the kernel knows:
// the neighbour entries with a resolved link-layer address (states REACHABLE, STALE, DELAY,
// PROBE, PERMANENT, NOARP). After an echo request to an address on the local link, the kernel
// has resolved it when a host answered ARP for it, even when that host drops echo requests.
// The Linux source reads the table of the calling thread's network namespace through
// rtnetlink; tests install a made-up one. Loop thread only.
#include <set>
#include <string>

namespace scoutor {

class TNeighbourTable {
 public:
  virtual ~TNeighbourTable() = default;
  // The dotted addresses with a resolved link-layer address; empty when the table cannot be
  // read (nothing is then known to be held).
  virtual std::set<std::string> HeldAddresses() = 0;
};

// The table in use: the kernel's unless another was installed.
TNeighbourTable& NeighbourTable();
// Installs `table` (nullptr: back to the kernel's); the caller keeps ownership.
void SetNeighbourTable(TNeighbourTable* table);

}  // namespace scoutor
