#pragma once
// One run of a vepctl command against the VEP engine: starts the engine with the calling thread
// as its main thread, creates the application interface object, and waits for answers by
// running the engine's event processing in short slices. Main thread only; events and handlers
// run inside Wait/RunFor.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "appmodel/VEPInterface.h"

namespace scoutor::vepctl {

// A command could not do its work; main prints the text and exits 1.
class EFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSession {
 public:
  // The engine's diagnostics go to standard error with `debug`. Raises EFailure when another
  // process in this network namespace holds the engine.
  explicit TSession(bool debug);
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

 private:
  std::unique_ptr<TVEPInterface> Interface;
};

}  // namespace scoutor::vepctl
