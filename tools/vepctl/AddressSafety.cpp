#include "tools/vepctl/AddressSafety.h"

#include <optional>

#include "hostnet/NeighbourTable.h"
#include "tools/vepctl/DeviceScan.h"
#include "transport/LocalInterfaces.h"

namespace scoutor::vepctl {

std::string LocalUser(const std::string& address) {
  for (const TLocalInterface& local : TLocalInterfaces::List())
    if (local.Address == address) return "this host (interface " + local.Device + ")";
  return {};
}

std::string DeviceUser(const std::string& deviceID) {
  return "device " + deviceID + " (it answered the scan from there)";
}

std::string HostUser(const TCheckResult& check, const std::set<std::string>& heldAddresses) {
  if (check.Outcome == TReachability::Reachable) return "a host that answers a ping there";
  if (heldAddresses.contains(check.Address))
    return "a host that the kernel's neighbour table knows there (it answered ARP)";
  return {};
}

std::string InUseProblem(const std::string& address, const std::string& user) {
  return address + " is already in use by " + user + " (--force sends it anyway)";
}

std::string AddressUser(TSession& session, const std::string& address, const std::string& deviceID,
                        int scanWaitMs) {
  if (std::string local = LocalUser(address); !local.empty()) return local;

  // The scan and the ping run at the same time; the ping ends within its own time-out.
  TReachabilityService service(MainLoop());
  std::optional<TCheckResult> check;
  service.Check(address, [&check](const TCheckResult& result) { check = result; });
  TDeviceScan scan(session);
  std::string user;
  bool ownAddress = false;
  scan.OnReply = [&](const TDeviceInfo& reply) {
    if (reply.IPAddress != address) return;
    if (reply.ID == deviceID)
      ownAddress = true;
    else if (user.empty())
      user = DeviceUser(reply.ID);
  };
  scan.Run(scanWaitMs, [&] { return ownAddress || !user.empty(); });
  if (ownAddress) return {};
  if (!user.empty()) return user;
  session.Wait([&check] { return check.has_value(); }, -1);
  return HostUser(*check, NeighbourTable().HeldAddresses());
}

}  // namespace scoutor::vepctl
