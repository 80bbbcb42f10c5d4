#pragma once
// The check before vepctl gives a device a static address that something already uses: this
// host, another device that answers a scan, or a host that answers a ping or that the kernel's
// neighbour table holds. set-ip checks one address by AddressUser; a plan checks all of its
// addresses at once with the same pieces. Main thread only.
#include <set>
#include <string>

#include "hostnet/ReachabilityService.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// "this host (interface eth0)" when a local interface holds `address`, or empty.
std::string LocalUser(const std::string& address);
// Another device that answered a scan from the address, named as its user.
std::string DeviceUser(const std::string& deviceID);
// Who the finished reachability check of an address found there, or empty: a host that
// answered the ping, or one whose link-layer address the kernel resolved (`heldAddresses`,
// the neighbour table read after the check).
std::string HostUser(const TCheckResult& check, const std::set<std::string>& heldAddresses);
// The refusal of an address in use: "ADDRESS is already in use by USER (--force ...)".
std::string InUseProblem(const std::string& address, const std::string& user);

// Who already uses `address`, or empty: an address of this host, another device that answers
// a scan (listening `scanWaitMs`), or anything that answers a ping or that the kernel's
// neighbour table holds afterwards. The device `deviceID` itself at that address is no
// conflict; nor is anything else then, as the address is already the device's.
std::string AddressUser(TSession& session, const std::string& address, const std::string& deviceID,
                        int scanWaitMs);

}  // namespace scoutor::vepctl
