#include "tools/vepctl/DeviceUpgrade.h"

#include <stdexcept>

#include "runtime/EventLoop.h"

namespace scoutor::vepctl {

TDeviceUpgrade::TDeviceUpgrade(const TDeviceInfo& device, const TSettings& settings)
    : Info(device), Settings(settings) {
  Client.Host = Info.IPAddress;
  if (Settings.Retries) Client.Retries = *Settings.Retries;
  Client.OnWorkBegin = [this](TTransportComponent&, TWorkMode, std::int64_t total) {
    TotalBytes = total;
  };
  Client.OnWork = [this](TTransportComponent&, TWorkMode, std::int64_t sent) {
    SentBytes = sent;
    if (OnProgress) OnProgress();
  };
}

void TDeviceUpgrade::StartUpload() {
  if (Current != TPhase::Queued && Current != TPhase::RetryDue)
    throw std::logic_error("an upload of " + Info.ID + " started out of turn");
  ++AttemptCount;
  SentBytes = 0;
  TotalBytes = 0;
  Client.StartUpload(MainLoop(), Settings.File, kFirmwareRemoteName,
                     [this](std::exception_ptr error) { UploadEnded(error); });
  SetPhase(TPhase::Uploading);
}

void TDeviceUpgrade::UploadEnded(std::exception_ptr error) {
  Last = UpgradeOutcome(error);
  if (Last.Result == 0) {
    Deadline.Start(MainLoop(), Settings.HeardWithinMs, [this] { Finish(TEnd::NotHeardAgain); });
    SetPhase(TPhase::Restarting);
  } else if (AttemptCount == 1 && TryAgainAfterPause(Last.Result)) {
    Pause.Start(MainLoop(), kUpgradeRetryPauseMs, [this] { SetPhase(TPhase::RetryDue); });
    SetPhase(TPhase::Pausing);
  } else {
    Finish(TEnd::UploadFailed);
  }
}

void TDeviceUpgrade::Asked() {
  if (Current == TPhase::Restarting) Listening = true;
}

void TDeviceUpgrade::Heard() {
  if (Current == TPhase::Restarting && Listening) Finish(TEnd::Upgraded);
}

void TDeviceUpgrade::Finish(TEnd end) {
  Deadline.Stop();
  Listening = false;
  Ending = end;
  SetPhase(TPhase::Ended);
}

void TDeviceUpgrade::SetPhase(TPhase phase) {
  Current = phase;
  if (OnPhaseChange) OnPhaseChange();
}

}  // namespace scoutor::vepctl
