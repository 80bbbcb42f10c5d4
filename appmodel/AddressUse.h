#pragma once
// Who already uses an address that a device is about to get as its static address: this host
// (one of its interfaces), another device of the last scan that answered from there, or a host
// that answers a ping there or that the kernel's neighbour table holds (it answered ARP). The
// device itself at that address is no conflict, nor then is anything else: the address is
// already its own. vepctl refuses such an address unless forced; the window asks the user
// first. The check is asynchronous: the ping (where the caller has the time for one, up to
// 5 s) runs on the loop while the caller goes on, e.g. scanning. Main loop thread only.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "hostnet/AddressChooser.h"
#include "runtime/EventLoop.h"

namespace scoutor {

// "ADDRESS is already in use by USER", the words every front end uses for a user that
// TAddressUseCheck::User names.
std::string InUseText(const std::string& address, const std::string& user);

class TAddressUseCheck {
 public:
  // `ping`: how to ping the address (the reachability service's Check and Cancel); empty
  // functions for a check of what is known at once (this host and the neighbour table).
  explicit TAddressUseCheck(TCandidateChecks ping = {}, TEventLoop& loop = MainLoop());
  ~TAddressUseCheck();  // a running check ends without its callback
  TAddressUseCheck(const TAddressUseCheck&) = delete;
  TAddressUseCheck& operator=(const TAddressUseCheck&) = delete;

  // Starts the check of `address` (canonical dotted) for the device with the ID text
  // `deviceID`; a check still running is cancelled. `checked` runs once on the loop's thread,
  // never inside Start, when what this host knows of the address has been gathered.
  void Start(const std::string& address, const std::string& deviceID,
             std::function<void()> checked);
  void Cancel();
  bool Running() const;

  // Once checked: who uses the address, named for a message ("this host (interface eth0)",
  // "device 00:0A:1B:2C:3D:4E (it answered the scan from there)", "a host that answers a ping
  // there", "a host that the kernel's neighbour table knows there (it answered ARP)"), or empty
  // when nobody does or the device itself answered from there. `lastScan`: the devices of the
  // last scan.
  std::string User(const std::vector<TDeviceInfo>& lastScan) const;

 private:
  void Gathered(std::optional<TCheckResult> ping);

  TCandidateChecks Ping;
  TEventLoop& Loop;
  std::string Address;
  std::string DeviceID;
  std::function<void()> Checked;
  std::optional<TCheckId> PingId;
  // A step posted by a check that is gone or was started again finds out by these.
  std::shared_ptr<int> Alive = std::make_shared<int>(0);
  unsigned Starts = 0;
  // What was found when checked.
  std::string LocalUser;
  std::string HostUser;
};

}  // namespace scoutor
