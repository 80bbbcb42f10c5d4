#include "tools/vepctl/Session.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "appmodel/DebugMode.h"
#include "protocol/StartEngine.h"
#include "protocol/VEP.h"

namespace scoutor::vepctl {

namespace {

// Events are handled in slices this long, so a wait ends at most this late after its
// condition came true.
constexpr int kSliceMs = 10;

}  // namespace

TSession::TSession(bool debug) {
  // The interface object reads the flag when it registers, and its log lines go to standard
  // error in debug mode only, so it is set first.
  SetDebugMode(debug);
  if (VEPStartEngine() == 0)
    throw EFailure(
        "another process in this network namespace holds the VEP engine (UDP port 17784); "
        "stop it and try again");
  Interface = std::make_unique<TVEPInterface>();
}

TSession::~TSession() = default;

void TSession::AskOnlyThrough(std::vector<std::string> localAddresses) {
  EngineInstance->RestrictBindings(std::move(localAddresses));
}

bool TSession::Wait(const std::function<bool()>& done, int timeoutMs) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done && done()) return true;
    long long slice = kSliceMs;
    if (timeoutMs >= 0) {
      const long long left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0) return false;
      slice = std::min(left, slice);
    }
    VEPProcessEvents(static_cast<unsigned>(slice));
  }
}

}  // namespace scoutor::vepctl
