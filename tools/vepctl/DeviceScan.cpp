#include "tools/vepctl/DeviceScan.h"

namespace scoutor::vepctl {

bool TDeviceScan::Run(int waitMs, const std::function<bool()>& enough) {
  TVEPInterface& vep = Session.Vep();
  vep.OnDeviceFound.Set(this, [this](TVEPInterface&, const TDeviceInfo& reply) { Reply(reply); });
  vep.StartScan();
  const bool ended = Session.Wait(enough, waitMs);
  // Replies that come after the scan must not reach this object any more.
  vep.OnDeviceFound.Set(nullptr, {});
  return ended;
}

const TDeviceInfo* TDeviceScan::Find(const std::string& id) const {
  for (const TDeviceInfo& device : Found)
    if (device.ID == id) return &device;
  return nullptr;
}

void TDeviceScan::Reply(const TDeviceInfo& reply) {
  if (OnReply) OnReply(reply);
  if (Find(reply.ID) != nullptr) return;
  Found.push_back(reply);
  if (OnNewDevice) OnNewDevice(Found.back());
}

}  // namespace scoutor::vepctl
