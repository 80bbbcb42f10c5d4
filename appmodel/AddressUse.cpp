#include "appmodel/AddressUse.h"

#include <utility>

#include "hostnet/NeighbourTable.h"
#include "transport/LocalInterfaces.h"

namespace scoutor {

namespace {

std::string LocalUserOf(const std::string& address) {
  for (const TLocalInterface& local : TLocalInterfaces::List())
    if (local.Address == address) return "this host (interface " + local.Device + ")";
  return {};
}

}  // namespace

std::string InUseText(const std::string& address, const std::string& user) {
  return address + " is already in use by " + user;
}

TAddressUseCheck::TAddressUseCheck(TCandidateChecks ping, TEventLoop& loop)
    : Ping(std::move(ping)), Loop(loop) {}

TAddressUseCheck::~TAddressUseCheck() { Cancel(); }

void TAddressUseCheck::Start(const std::string& address, const std::string& deviceID,
                             std::function<void()> checked) {
  Cancel();
  ++Starts;
  Address = address;
  DeviceID = deviceID;
  Checked = std::move(checked);
  LocalUser = LocalUserOf(address);
  HostUser.clear();
  if (LocalUser.empty() && Ping.Check) {
    PingId = Ping.Check(
        address,
        [this](const TCheckResult& result) {
          PingId.reset();
          Gathered(result);
        },
        {});
    return;
  }
  // Nothing to wait for; the answer still comes on a later turn of the loop, as promised, and
  // not at all when the check was cancelled or started again meanwhile.
  Loop.Post([this, alive = std::weak_ptr<int>(Alive), start = Starts] {
    if (alive.lock() && start == Starts && Checked) Gathered(std::nullopt);
  });
}

void TAddressUseCheck::Gathered(std::optional<TCheckResult> ping) {
  if (LocalUser.empty()) {
    // Read after the ping: an echo request makes the kernel resolve the address on the link.
    if (ping && ping->Outcome == TReachability::Reachable)
      HostUser = "a host that answers a ping there";
    else if (ping && ping->Held)
      HostUser = "a host that answers ARP there but not a ping";
    else if (NeighbourTable().HeldAddresses().contains(Address))
      HostUser = "a host that the kernel's neighbour table knows there (it answered ARP)";
  }
  auto checked = std::exchange(Checked, nullptr);
  if (checked) checked();
}

void TAddressUseCheck::Cancel() {
  if (PingId && Ping.Cancel) Ping.Cancel(*PingId);
  PingId.reset();
  Checked = nullptr;
}

bool TAddressUseCheck::Running() const { return static_cast<bool>(Checked); }

std::string TAddressUseCheck::User(const std::vector<TDeviceInfo>& lastScan) const {
  for (const TDeviceInfo& device : lastScan)
    if (device.IPAddress == Address && device.ID == DeviceID) return {};
  if (!LocalUser.empty()) return LocalUser;
  for (const TDeviceInfo& device : lastScan)
    if (device.IPAddress == Address)
      return "device " + device.ID + " (it answered the scan from there)";
  return HostUser;
}

}  // namespace scoutor
