#include "protocol/UpgradeOutcome.h"

#include "transport/TftpErrors.h"

namespace scoutor {

namespace {

constexpr std::int32_t kAccessRefused = 1;
constexpr std::int32_t kFileNotFound = 2;
constexpr std::int32_t kOtherFailure = 3;

}  // namespace

TUpgradeOutcome UpgradeOutcome(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& failure) {
    // A kind derived from one of the two counts as that one.
    std::int32_t result = kOtherFailure;
    if (dynamic_cast<const EIdTFTPAccessViolation*>(&failure))
      result = kAccessRefused;
    else if (dynamic_cast<const EIdTFTPFileNotFound*>(&failure))
      result = kFileNotFound;
    return {result, failure.what()};
  } catch (...) {
    return {kOtherFailure, std::nullopt};
  }
}

bool TryAgainAfterPause(std::int32_t firstAttemptResult) {
  return firstAttemptResult == kAccessRefused;
}

}  // namespace scoutor
