#pragma once
// One run of a vepctl command against the VEP engine: starts the engine with the calling thread
// as its main thread, creates the application interface object, and waits for answers by
// running the engine's event processing in short slices; with it the stop signals of a command
// that runs until told to end, and the reachability checks on the same loop. Main thread
// only; events and handlers run inside Wait/RunFor.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "appmodel/VEPInterface.h"
#include "hostnet/AddressChooser.h"
#include "hostnet/ReachabilityService.h"

namespace scoutor::vepctl {

// A command could not do its work; main prints the text and exits 1.
class EFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TGlobalOptions {
  bool Debug = false;            // -d: the engine's diagnostics on standard error
  bool Json = false;             // --json: one JSON object per line on standard output
  unsigned ArpPerSecond = 1000;  // --arp-rate: the link layer's pacing per interface
};

class TSession {
 public:
  // The engine's diagnostics, and the path each reachability check took, go to standard error
  // with -d. Raises EFailure when another process in this network namespace holds the engine.
  explicit TSession(const TGlobalOptions& global);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  TVEPInterface& Vep() { return *Interface; }
  // Requests leave, and replies are heard, only through the interfaces holding these local
  // addresses.
  void AskOnlyThrough(std::vector<std::string> localAddresses);

  // Handles events until `done` holds or `timeoutMs` have passed (below 0: no limit, for a
  // `done` that is sure to come); true when `done` held.
  bool Wait(const std::function<bool()>& done, int timeoutMs);
  void RunFor(int ms) { Wait(nullptr, ms); }

  // The session's one reachability service, made on first use.
  TReachabilityService& Reachability();

 private:
  TReachabilityOptions ReachabilityOptions;
  std::unique_ptr<TVEPInterface> Interface;
  std::unique_ptr<TReachabilityService> Checks;
};

// Ctrl-C (SIGINT) and SIGTERM as a request to stop, for a command that runs until it is told to
// end and should then end in good order (flushing its output, exit 0) rather than be killed.
// The handler only sets a flag; the command's loop looks at it between its 10 ms slices.

// Installs the handler for both signals.
void CatchStopSignals();
// True once either signal came.
bool StopRequested();

// Runs `round` now, then again every `everySeconds` counted from the start of the round before
// (at once when a round took longer), handling events in between, until a stop signal came.
void RepeatUntilStopped(TSession& session, int everySeconds, const std::function<void()>& round);

// Reachability checks and the address choice for vepctl, on the engine's main loop: one
// reachability service checks every address at once over one ICMP socket (no thread, no
// socket per device) while the engine keeps handling its events. Main thread only.

// One result per address, in order. Failed checks are also reported to the log.
std::vector<TCheckResult> CheckAll(TSession& session, const std::vector<std::string>& addresses);

// Auto IP's choice of a free address in the subnet of `localAddress`, run to its end.
TAddressChoice ChooseFreeAddress(TSession& session, const std::string& localAddress);

}  // namespace scoutor::vepctl
