#pragma once
// The kernel's neighbour table, as Auto IP and the reachability service read it. First, which
// addresses of the directly attached subnets a host holds as far as the kernel knows:
// the neighbour entries with a resolved link-layer address (states REACHABLE, STALE, DELAY,
// PROBE, PERMANENT, NOARP). After an echo request to an address on the local link, the kernel
// has resolved it when a host answered ARP for it, even when that host drops echo requests.
// The Linux source reads the table of the calling thread's network namespace through
// rtnetlink; tests install a made-up one. Second, how full the table is: Linux has one
// neighbour table for all network namespaces, with a hard limit (gc_thresh3, 1024 entries by
// default), and cannot free an entry while it is being resolved or confirmed (15-45 s) nor
// within 5 s of its last change; a new entry that finds no room fails, for every program on
// the host. Loop thread only.
#include <cstddef>
#include <optional>
#include <set>
#include <string>

namespace scoutor {

class TNeighbourTable {
 public:
  virtual ~TNeighbourTable() = default;
  // The dotted addresses with a resolved link-layer address; empty when the table cannot be
  // read (nothing is then known to be held).
  virtual std::set<std::string> HeldAddresses() = 0;
  // The entries of the whole table (all namespaces) that the kernel cannot free right now:
  // all of them less this namespace's that it could. None when that cannot be read.
  virtual std::optional<std::size_t> PinnedEntries() = 0;
};

// The table in use: the kernel's unless another was installed.
TNeighbourTable& NeighbourTable();
// Installs `table` (nullptr: back to the kernel's); the caller keeps ownership.
void SetNeighbourTable(TNeighbourTable* table);

}  // namespace scoutor
