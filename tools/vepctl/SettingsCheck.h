#pragma once
// Static IP settings that cannot work on any network, refused before anything is sent: by
// set-ip for its arguments, by auto-ip for its choice and by a plan for each of its rows.
// Plain functions, no network.
#include <string>

namespace scoutor::vepctl {

// Why `address` with `mask` and `gateway` (canonical dotted texts) cannot work, or empty:
// 0.0.0.0 or 255.255.255.255, a mask that is not one run of ones from the top or that leaves
// fewer than two host bits (/31 and /32 have no room for a device beside its gateway and
// broadcast), the subnet's network or broadcast address, a gateway outside the subnet or
// equal to the address. A gateway of 0.0.0.0 means none.
std::string SettingsProblem(const std::string& address, const std::string& mask,
                            const std::string& gateway);

}  // namespace scoutor::vepctl
