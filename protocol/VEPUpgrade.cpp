// The engine's firmware upgrade: a TFTP upload of the image to the device under the name "/",
// with the client's progress reports passed on as vepUpgradeProgress events and the way the
// transfer ended mapped onto a result code.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>

#include "protocol/VEPEngine.h"
#include "transport/TftpErrors.h"

namespace scoutor {

namespace {
constexpr const char* kFirmwareRemoteName = "/";
}

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
  } catch (const std::exception& error) {
    ReportMessage(std::string("Upgrade failed with reason: ") + error.what());
    if (dynamic_cast<const EIdTFTPAccessViolation*>(&error)) return 1;
    if (dynamic_cast<const EIdTFTPFileNotFound*>(&error)) return 2;
    return 3;
  } catch (...) {
    return 3;
  }
}

}  // namespace scoutor
