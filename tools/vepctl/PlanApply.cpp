#include "tools/vepctl/PlanApply.h"

#include <algorithm>

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
    : Session(session), Limit(inFlight), WaitMs(waitMs),
      // A request's time-out of 0 is none; --wait 0 asks for the shortest wait instead.
      RequestTimeoutMs(std::max(waitMs, 1)) {
  for (const TPlanRow& row : rows) {
    auto device = std::make_unique<TDevice>();
    TDevice& one = *device;
    one.Row = &row;
    one.Request = std::make_unique<TDeviceRequest>(session.Vep());
    one.Request->OnAnswer = [this, &one](const TDeviceInfo& answer) { Answered(one, answer); };
    one.Request->OnTimeOut = [this, &one] { TimedOut(one); };
    Devices.push_back(std::move(device));
  }
}

// The requests stop listening as they go, so answers that come later reach nothing.
TPlanApplier::~TPlanApplier() = default;

void TPlanApplier::Run() {
  StartMore();
  // Every device ends: with its settings, or at the time-out of one of its two requests.
  Session.Wait([this] { return EndedCount == Devices.size(); }, -1);
}

void TPlanApplier::StartMore() {
  while (UnderWay < Limit && NextQueued < Devices.size()) {
    TDevice& device = *Devices[NextQueued++];
    const TPlanRow& row = *device.Row;
    device.Stage = TStage::AwaitAcknowledgement;
    ++UnderWay;
    MostUnderWay = std::max(MostUnderWay, UnderWay);
    device.Request->SetIP(row.ID, {row.DHCP, row.Address, row.Mask, row.Gateway},
                          RequestTimeoutMs);
  }
}

void TPlanApplier::Answered(TDevice& device, const TDeviceInfo& answer) {
  if (device.Stage == TStage::AwaitAcknowledgement) {
    device.AckFrom = answer.IPAddress;
    device.Stage = TStage::AwaitSettings;
    device.Request->GetIP(device.Row->ID, RequestTimeoutMs);
    return;
  }
  const bool confirmed = Matches(*device.Row, answer);
  End(device, confirmed, confirmed ? std::string() : SettingsDiffer(answer));
}

void TPlanApplier::TimedOut(TDevice& device) {
  End(device, false,
      device.Stage == TStage::AwaitAcknowledgement
          ? "no acknowledgement within " + std::to_string(WaitMs) + " ms"
          : "acknowledged, but no answer to get-IP within " + std::to_string(WaitMs) + " ms");
}

void TPlanApplier::End(TDevice& device, bool confirmed, const std::string& reason) {
  device.Request->Stop();
  device.Stage = TStage::Ended;
  --UnderWay;
  ++EndedCount;
  if (OnDeviceDone) OnDeviceDone({device.Row, confirmed, device.AckFrom, reason});
  StartMore();
}

}  // namespace scoutor::vepctl
