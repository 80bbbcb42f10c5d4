#pragma once
// How the end of one firmware upload becomes the upgrade's result code, and whether the
// upgrade deserves another attempt. The engine's own upgrade and programs that drive TFTP
// clients of their own (one per device) decide alike through these.
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace scoutor {

// The remote file name a device takes its firmware image under.
inline constexpr const char* kFirmwareRemoteName = "/";

// Result codes: 0 done; 1 the device refused access; 2 it reported file not found; 3 any other
// failure.
struct TUpgradeOutcome {
  std::int32_t Result = 0;
  // Why it failed: the device's error text, "Timeout", the socket or file error. Empty when it
  // succeeded, and when what ended it was no error object (it has no text to report then).
  std::optional<std::string> Reason;
};

// The outcome of an upload that ended with `error` (nullptr: success).
TUpgradeOutcome UpgradeOutcome(std::exception_ptr error);

// A device that refuses access may still be busy with its previous upload: its first refusal
// is answered with one more attempt after this pause, and nothing else is tried again.
inline constexpr int kUpgradeRetryPauseMs = 10000;
bool TryAgainAfterPause(std::int32_t firstAttemptResult);

}  // namespace scoutor
