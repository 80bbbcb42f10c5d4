#pragma once
// The checks before vepctl gives a device a static address: settings that cannot work on any
// network, and an address that something already uses. Main thread only.
#include <string>

#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// Why `address` with `mask` and `gateway` (canonical dotted texts) cannot work, or empty:
// 0.0.0.0 or 255.255.255.255, a mask that is not one run of ones from the top or that leaves
// fewer than two host bits (/31 and /32 have no room for a device beside its gateway and
// broadcast), the subnet's network or broadcast address, a gateway outside the subnet or
// equal to the address. A gateway of 0.0.0.0 means none.
std::string SettingsProblem(const std::string& address, const std::string& mask,
                            const std::string& gateway);

// Who already uses `address`, or empty: an address of this host, another device that answers
// a scan (listening `scanWaitMs`), or anything that answers a ping or that the kernel's
// neighbour table holds afterwards. The device `deviceID` itself at that address is no
// conflict; nor is anything else then, as the address is already the device's.
std::string AddressUser(TSession& session, const std::string& address, const std::string& deviceID,
                        int scanWaitMs);

}  // namespace scoutor::vepctl
