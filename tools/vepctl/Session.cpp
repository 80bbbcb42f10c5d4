
#include "tools/vepctl/Session.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <utility>

#include "appmodel/DebugMode.h"
#include "hostnet/MissingReplies.h"
#include "protocol/StartEngine.h"
#include "protocol/VEP.h"

namespace scoutor::vepctl {

namespace {

// Events are handled in slices this long, so a wait ends at most this late after its
// condition came true.
constexpr int kSliceMs = 10;

}  // namespace

TSession::TSession(const TGlobalOptions& global) {
  // The interface object reads the flag when it registers, and its log lines go to standard
  // error in debug mode only, so it is set first.
  SetDebugMode(global.Debug);
  if (VEPStartEngine() == 0)
    throw EFailure(
        "another process in this network namespace holds the VEP engine (UDP port 17784); "
        "stop it and try again");
  Interface = std::make_unique<TVEPInterface>();
  // Said once, before any scan: which devices this run cannot hear, and the remedies.
  if (const std::string missing = MissingRepliesExplanation("vepctl"); !missing.empty())
    std::fprintf(stderr, "vepctl: %s\n", missing.c_str());
  ReachabilityOptions.ArpPerSecond = global.ArpPerSecond;
  if (global.Debug)
    ReachabilityOptions.Ended = [this](const TCheckResult& result) {
      if (Interface->LogLine) Interface->LogLine(CheckLogLine(result));
    };
}

TSession::~TSession() = default;

TReachabilityService& TSession::Reachability() {
  if (!Checks) Checks = std::make_unique<TReachabilityService>(MainLoop(), ReachabilityOptions);
  return *Checks;
}

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

namespace {

volatile std::sig_atomic_t Stopping = 0;

void RequestStop(int) {
  Stopping = 1;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return Stopping != 0;
}

void RepeatUntilStopped(TSession& session, int everySeconds, const std::function<void()>& round) {
  using TClock = std::chrono::steady_clock;
  while (!StopRequested()) {
    const auto next = TClock::now() + std::chrono::seconds(everySeconds);
    round();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - TClock::now()).count();
    if (left > 0 && !StopRequested()) session.Wait(StopRequested, static_cast<int>(left));
  }
}

std::vector<TCheckResult> CheckAll(TSession& session, const std::vector<std::string>& addresses) {
  TReachabilityService& service = session.Reachability();
  std::vector<TCheckResult> results(addresses.size());
  std::size_t ended = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i)
    service.Check(addresses[i], [&results, &ended, i](const TCheckResult& result) {
      results[i] = result;
      ++ended;
    });
  // Every check ends: with its answer, its time-out or its failure.
  session.Wait([&] { return ended == addresses.size(); }, -1);
  return results;
}

TAddressChoice ChooseFreeAddress(TSession& session, const std::string& localAddress) {
  TAddressChooser chooser(session.Reachability(), MainLoop());
  std::optional<TAddressChoice> choice;
  chooser.Start(localAddress, [&choice](const TAddressChoice& result) { choice = result; });
  session.Wait([&choice] { return choice.has_value(); }, -1);
  return *choice;
}

}  // namespace scoutor::vepctl
