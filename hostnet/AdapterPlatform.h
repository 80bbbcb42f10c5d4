#pragma once
// Where the host's IPv4 configuration comes from: the seam under the adapter operations of
// Adapters.h. The Linux source (LinuxAdapterPlatform.h) is installed unless a test installs a
// made-up one with SetAdapterPlatform. A source keeps no copy of the configuration: every call
// reads it anew, in the network namespace of the calling thread.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace scoutor {

// One entry of an adapter's address list: dotted address and mask texts.
struct TAdapterAddress {
  std::string Address;
  std::string Mask;
};

// One adapter (loopback is not an adapter).
struct TAdapterRecord {
  std::string Name;
  // Every address the adapter has, in the platform's order; an adapter without an IPv4
  // address has the one entry 0.0.0.0 / 0.0.0.0.
  std::vector<TAdapterAddress> Addresses;
  // The adapter's first gateway; "0.0.0.0" when it has none.
  std::string Gateway = "0.0.0.0";
};

// The size one adapter record takes in an adapter list buffer.
constexpr std::size_t kAdapterRecordSize = 640;

class TAdapterPlatform {
 public:
  virtual ~TAdapterPlatform() = default;
  // Makes the configuration readable. False when it cannot be, with the text shown to the user.
  virtual bool Load(std::string& failureText) = 0;
  // The number of network interfaces, loopback included; none when it cannot be read.
  virtual std::optional<std::size_t> InterfaceCount() = 0;
  // The adapters in the platform's order; none when the list cannot be read.
  virtual std::optional<std::vector<TAdapterRecord>> Adapters() = 0;
};

}  // namespace scoutor
