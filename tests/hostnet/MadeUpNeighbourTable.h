#pragma once
// Test double for the kernel's neighbour table: held addresses and a count of pinned entries
// written by the test, installed for the life of the object.
#include <cstddef>
#include <optional>
#include <set>
#include <string>

#include "hostnet/NeighbourTable.h"

namespace scoutor::test {

class TMadeUpNeighbourTable final : public TNeighbourTable {
 public:
  TMadeUpNeighbourTable() { SetNeighbourTable(this); }
  ~TMadeUpNeighbourTable() override { SetNeighbourTable(nullptr); }
  TMadeUpNeighbourTable(const TMadeUpNeighbourTable&) = delete;
  TMadeUpNeighbourTable& operator=(const TMadeUpNeighbourTable&) = delete;

  std::set<std::string> HeldAddresses() override { return Held; }
  std::optional<std::size_t> PinnedEntries() override { return Pinned; }

  std::set<std::string> Held;
  std::optional<std::size_t> Pinned;  // none: unknown
};

}  // namespace scoutor::test
