#pragma once
// Finds devices the way the main window does: one scan of five discovery broadcasts 500 ms
// apart (the interface object's StartScan), listening until a wait counted from the scan's
// start is over. Devices are keyed by their ID text; a device's first reply fixes its record,
// later replies (to later broadcasts, or through another interface) change nothing. Main
// thread only.
#include <functional>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

class TDeviceScan {
 public:
  explicit TDeviceScan(TSession& session) : Session(session) {}

  // Called with every discovery reply, first or not, as it arrives.
  std::function<void(const TDeviceInfo& reply)> OnReply;
  // Called with a device's record when its first reply arrives.
  std::function<void(const TDeviceInfo& device)> OnNewDevice;

  // Scans and listens for `waitMs` from now, or until `enough` holds (checked between
  // events). True when `enough` held.
  bool Run(int waitMs, const std::function<bool()>& enough = {});

  // The devices found, in the order of their first replies.
  const std::vector<TDeviceInfo>& Devices() const { return Found; }
  // The device with this ID text, or nullptr.
  const TDeviceInfo* Find(const std::string& id) const;

 private:
  void Reply(const TDeviceInfo& reply);

  TSession& Session;
  std::vector<TDeviceInfo> Found;
};

}  // namespace scoutor::vepctl
