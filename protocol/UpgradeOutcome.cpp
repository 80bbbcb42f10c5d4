#include "protocol/UpgradeOutcome.h"

#include "transport/TftpErrors.h"

namespace scoutor {

TUpgradeOutcome UpgradeOutcome(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& failure) {
    // A kind derived from one of the two counts as that one.
    TUpgradeResult result = TUpgradeResult::OtherFailure;
    if (dynamic_cast<const EIdTFTPAccessViolation*>(&failure))
      result = TUpgradeResult::AccessRefused;
    else if (dynamic_cast<const EIdTFTPFileNotFound*>(&failure))
      result = TUpgradeResult::FileNotFound;
    return {result, failure.what()};
  } catch (...) {
    return {TUpgradeResult::OtherFailure, std::nullopt};
  }
}

}  // namespace scoutor
