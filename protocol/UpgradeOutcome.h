#pragma once
// How the end of one firmware upload becomes the upgrade's result. The engine's own upgrade and
// programs that drive TFTP clients of their own (one per device) decide alike through these;
// the attempts of an upgrade (one more after a refusal) are appmodel/UpgradeAttempts.h.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace scoutor {

// The remote file name a device takes its firmware image under.
inline constexpr const char* kFirmwareRemoteName = "/";

// The result codes of the exported upgrade call, as callers and vepctl's output know them.
enum class TUpgradeResult : std::int32_t {
  Done = 0,
  AccessRefused = 1,  // the device answered with the TFTP access-violation error
  FileNotFound = 2,   // the device answered with the TFTP file-not-found error
  OtherFailure = 3,
};

struct TUpgradeOutcome {
  TUpgradeResult Result = TUpgradeResult::Done;
  // Why it failed: the device's error text, "Timeout", the host firewall that drops the
  // device's replies, the socket or file error. Empty when it succeeded, and when what ended it
  // was no error object (it has no text to report then).
  std::optional<std::string> Reason;

  std::int32_t Code() const { return static_cast<std::int32_t>(Result); }
  bool Succeeded() const { return Result == TUpgradeResult::Done; }
};

// The outcome of an upload that ended with `error` (nullptr: success).
TUpgradeOutcome UpgradeOutcome(std::exception_ptr error);

}  // namespace scoutor
