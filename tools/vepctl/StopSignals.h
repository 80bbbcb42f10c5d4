#pragma once
// Ctrl-C (SIGINT) and SIGTERM as a request to stop, for a command that runs until it is told to
// end and should then end in good order (flushing its output, exit 0) rather than be killed.
// The handler only sets a flag; the command's loop looks at it between its 10 ms slices.
namespace scoutor::vepctl {

// Installs the handler for both signals.
void CatchStopSignals();
// True once either signal came.
bool StopRequested();

}  // namespace scoutor::vepctl
