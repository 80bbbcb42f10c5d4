#pragma once
// Shows how an upgrade of several devices goes, on a terminal only: one line on standard error,
// redrawn in place, with a bar of the devices that ended and how many are at each step
// ("[#####     ]  5/20 ended, 4 uploading 37%, 2 pausing, 3 restarting, 6 queued"). Without a
// terminal it shows nothing. Main thread only.
#include <cstdint>
#include <string>

namespace scoutor::vepctl {

struct TFleetCounts {
  int Devices = 0;
  int Ended = 0;
  int Uploading = 0;
  int Pausing = 0;         // waiting to try a refused upload once more
  int Restarting = 0;      // uploaded, not heard again yet
  std::int64_t Sent = 0;   // bytes of the uploads running
  std::int64_t Total = 0;  // their sizes
};

class TFleetProgress {
 public:
  explicit TFleetProgress(bool terminal) : Terminal(terminal) {}
  ~TFleetProgress() { Hide(); }
  TFleetProgress(const TFleetProgress&) = delete;
  TFleetProgress& operator=(const TFleetProgress&) = delete;

  // Draws the line when it differs from the one shown.
  void Show(const TFleetCounts& counts);
  // Clears the line, so that other output can take its place; the next Show draws it again.
  void Hide();

 private:
  const bool Terminal;
  std::string Shown;  // the line on the terminal now, if any
};

}  // namespace scoutor::vepctl
