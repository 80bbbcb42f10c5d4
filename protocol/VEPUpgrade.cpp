// The engine's firmware upgrade: a TFTP upload of the image to the device under the name "/",
// with the client's progress reports passed on as vepUpgradeProgress events and the way the
// transfer ended mapped onto a result code. UpgradeDevice blocks until the transfer has ended;
// StartUpgrade runs the same transfer on the main loop and reports the code through `done`.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>

#include "protocol/UpgradeOutcome.h"
#include "protocol/VEPEngine.h"
#include "runtime/EventLoop.h"

namespace scoutor {

namespace {

// Reports a failure (after the transfer's end event) and turns the way the transfer ended into
// the outcome.
TUpgradeOutcome ReportedOutcome(std::exception_ptr error, TVEPDiagnostics& diagnostics) {
  TUpgradeOutcome outcome = UpgradeOutcome(error);
  if (outcome.Reason) diagnostics.ReportMessage("Upgrade failed with reason: " + *outcome.Reason);
  return outcome;
}

}  // namespace

void TVEP::AttachUpgradeProgress() {
  Upload = std::make_unique<TTftpClient>();
  Upload->OnWorkBegin = [this](TTransportComponent&, TWorkMode, std::int64_t total) {
    RaiseProgress(upStarted, total);
  };
  Upload->OnWork = [this](TTransportComponent&, TWorkMode, std::int64_t sent) {
    RaiseProgress(upProgress, sent);
  };
  Upload->OnWorkEnd = [this](TTransportComponent&, TWorkMode) { RaiseProgress(upEnded, 0); };
}

void TVEP::RaiseProgress(std::int32_t kind, std::int64_t value) {
  // The event's value is 32 bits wide; an image beyond 2 GiB shows as full, never negative.
  const auto clamped = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::int32_t>::max()));
  TVEPProgressEvent event{kind, clamped};
  Raise(vepUpgradeProgress, &event);
}

std::int32_t TVEP::UpgradeDevice(const std::string& fileName, const std::string& deviceAddress) {
  Upload->Host = deviceAddress;
  try {
    Upload->Upload(fileName, kFirmwareRemoteName);
    return 0;
  } catch (...) {
    return ReportedOutcome(std::current_exception(), *this).Code();
  }
}

bool TVEP::StartUpgrade(const std::string& fileName, const std::string& deviceAddress,
                        std::function<void(const TUpgradeOutcome& outcome)> done) {
  if (Upgrading()) return false;
  Upload->Host = deviceAddress;
  Upload->StartUpload(MainLoop(), fileName, kFirmwareRemoteName,
                      [this, done = std::move(done)](std::exception_ptr error) {
                        done(ReportedOutcome(error, *this));
                      });
  return true;
}

bool TVEP::Upgrading() const {
  return Upload->Uploading();
}

}  // namespace scoutor
