#include "tools/vepctl/PlanApply.h"

#include <algorithm>

#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Output.h"

namespace scoutor::vepctl {

namespace {

// What the device reports when its settings are not the row's.
std::string SettingsDiffer(const TDeviceInfo& settings) {
  return "the device reports other settings: dhcp=" + std::string(settings.DHCP ? "on" : "off") +
         " ip=" + Printable(settings.IPAddress) + " mask=" + Printable(settings.SubnetMask) +
         " gateway=" + Printable(settings.DefaultGateway);
}

bool Matches(const TPlanRow& row, const TDeviceInfo& settings) {
  // With DHCP the device's address is whatever the server gave it.
  if (row.DHCP) return settings.DHCP;
  return !settings.DHCP && settings.IPAddress == row.Address && settings.SubnetMask == row.Mask &&
         settings.DefaultGateway == row.Gateway;
}

}  // namespace

TPlanApplier::TPlanApplier(TSession& session, const std::vector<TPlanRow>& rows,
                           std::size_t inFlight, int waitMs)
    : Session(session), Limit(inFlight), WaitMs(waitMs) {
  for (const TPlanRow& row : rows) {
    auto device = std::make_unique<TDevice>();
    device->Row = &row;
    device->Node = DeviceNodeID(row.ID);
    ByID[row.ID] = device.get();
    Devices.push_back(std::move(device));
  }
  TVEPInterface& vep = Session.Vep();
  vep.OnIPSet.Set(this, [this](TVEPInterface&, const TDeviceInfo& info) { Acknowledged(info); });
  vep.OnIPSettings.Set(this,
                       [this](TVEPInterface&, const TDeviceInfo& info) { SettingsReceived(info); });
}

TPlanApplier::~TPlanApplier() {
  // Answers that come later must not reach this object.
  TVEPInterface& vep = Session.Vep();
  vep.OnIPSet.Set(nullptr, {});
  vep.OnIPSettings.Set(nullptr, {});
}

void TPlanApplier::Run() {
  StartMore();
  // Every device ends: with its settings, or at one of its two deadlines.
  Session.Wait([this] { return EndedCount == Devices.size(); }, -1);
}

void TPlanApplier::StartMore() {
  while (UnderWay < Limit && NextQueued < Devices.size()) {
    TDevice& device = *Devices[NextQueued++];
    const TPlanRow& row = *device.Row;
    device.Stage = TStage::AwaitAcknowledgement;
    ++UnderWay;
    MostUnderWay = std::max(MostUnderWay, UnderWay);
    device.Deadline.Start(MainLoop(), WaitMs, [this, &device] {
      End(device, false, "no acknowledgement within " + std::to_string(WaitMs) + " ms");
    });
    // With DHCP the device takes no static values; zeros travel in their place, as set-ip
    // sends them.
    Session.Vep().SetIP(device.Node, row.DHCP ? "0.0.0.0" : row.Address,
                        row.DHCP ? "0.0.0.0" : row.Mask, row.DHCP ? "0.0.0.0" : row.Gateway,
                        row.DHCP);
  }
}

TPlanApplier::TDevice* TPlanApplier::Find(const std::string& id, TStage stage) {
  const auto found = ByID.find(id);
  if (found == ByID.end() || found->second->Stage != stage) return nullptr;
  return found->second;
}

void TPlanApplier::Acknowledged(const TDeviceInfo& acknowledgement) {
  TDevice* device = Find(acknowledgement.ID, TStage::AwaitAcknowledgement);
  if (device == nullptr) return;
  device->AckFrom = acknowledgement.IPAddress;
  device->Stage = TStage::AwaitSettings;
  device->Deadline.Start(MainLoop(), WaitMs, [this, device] {
    End(*device, false,
        "acknowledged, but no answer to get-IP within " + std::to_string(WaitMs) + " ms");
  });
  Session.Vep().GetIP(device->Node);
}

void TPlanApplier::SettingsReceived(const TDeviceInfo& settings) {
  TDevice* device = Find(settings.ID, TStage::AwaitSettings);
  if (device == nullptr) return;
  const bool confirmed = Matches(*device->Row, settings);
  End(*device, confirmed, confirmed ? std::string() : SettingsDiffer(settings));
}

void TPlanApplier::End(TDevice& device, bool confirmed, const std::string& reason) {
  device.Deadline.Stop();
  device.Stage = TStage::Ended;
  --UnderWay;
  ++EndedCount;
  if (OnDeviceDone) OnDeviceDone({device.Row, confirmed, device.AckFrom, reason});
  StartMore();
}

}  // namespace scoutor::vepctl
