#pragma once
// The host's IPv4 interfaces as the socket layer needs them: which device an address lives on,
// and which devices a limited broadcast can leave through. Read afresh on every call, so
// interfaces that come up later are seen. Any thread.
#include <string>
#include <vector>

namespace scoutor {

struct TLocalInterface {
  std::string Device;   // device name ("eth0"), without an address label's suffix
  int Index = 0;        // the device's interface index
  std::string Address;  // one IPv4 address of the device, dotted
  bool Up = false;
  bool Loopback = false;
  bool Broadcast = false;  // the device can send broadcasts
  std::string BroadcastAddress;  // the broadcast address of Address's subnet; empty: none
};

class TLocalInterfaces {
 public:
  // One entry per IPv4 address, in the system's order.
  static std::vector<TLocalInterface> List();
  // The entry holding `address`, or nullptr.
  static const TLocalInterface* WithAddress(const std::vector<TLocalInterface>& list,
                                            const std::string& address);
};

}  // namespace scoutor
