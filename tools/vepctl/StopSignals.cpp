#include "tools/vepctl/StopSignals.h"

#include <csignal>

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
