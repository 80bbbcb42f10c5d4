#include "tools/vepctl/DeviceUpgrade.h"

#include <stdexcept>
#include <utility>

#include "runtime/EventLoop.h"

namespace scoutor::vepctl {

TDeviceUpgrade::TDeviceUpgrade(const TDeviceInfo& device, const TSettings& settings)
    : Info(device),
      Settings(settings),
      Attempts([this](const std::string&, const std::string&, TAttemptDone done) {
        Queue(std::move(done));
      }) {
  if (Settings.Retries) Client.Retries = *Settings.Retries;
  Client.OnWorkBegin = [this](TTransportComponent&, TWorkMode, std::int64_t total) {
    TotalBytes = total;
  };
  Client.OnWork = [this](TTransportComponent&, TWorkMode, std::int64_t sent) {
    SentBytes = sent;
    if (OnProgress) OnProgress();
  };
  Attempts.OnPhaseChange = [this] { AttemptsChanged(); };
  // Its first upload waits in the queue from the start.
  Attempts.Start(Settings.File, Info.IPAddress);
}

void TDeviceUpgrade::Queue(TAttemptDone done) {
  Queued = std::move(done);
  SetPhase(Attempts.Attempts() == 1 ? TPhase::Queued : TPhase::RetryDue);
}

void TDeviceUpgrade::StartUpload() {
  if (Current != TPhase::Queued && Current != TPhase::RetryDue)
    throw std::logic_error("an upload of " + Info.ID + " started out of turn");
  SentBytes = 0;
  TotalBytes = 0;
  ClientUpload(Client)(Settings.File, Info.IPAddress, std::exchange(Queued, nullptr));
  SetPhase(TPhase::Uploading);
}

// An attempt's upload is queued by Queue, so only the pause and the end are news here.
void TDeviceUpgrade::AttemptsChanged() {
  switch (Attempts.Phase()) {
    case TUpgradeAttempts::TPhase::Pausing:
      SetPhase(TPhase::Pausing);
      break;
    case TUpgradeAttempts::TPhase::Ended:
      if (!Attempts.Outcome().Succeeded()) {
        Finish(TEnd::UploadFailed);
        break;
      }
      Deadline.Start(MainLoop(), Settings.HeardWithinMs, [this] { Finish(TEnd::NotHeardAgain); });
      SetPhase(TPhase::Restarting);
      break;
    case TUpgradeAttempts::TPhase::Idle:
    case TUpgradeAttempts::TPhase::Uploading:
      break;
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
