#pragma once
// Shows a firmware upload's progress on standard error: on a terminal a bar redrawn in place,
// otherwise one plain line at the start, at every further tenth of the file, and at the end.
// Fed from the upgrade progress events on the engine's main thread.
#include <cstdint>

namespace scoutor::vepctl {

class TProgressDisplay {
 public:
  explicit TProgressDisplay(bool terminal) : Terminal(terminal) {}

  void Started(std::int64_t total);
  void Progress(std::int64_t sent);
  // Ends the bar's line, if one is drawn.
  void Ended();

 private:
  void Draw(std::int64_t sent);

  const bool Terminal;
  bool Drawing = false;
  std::int64_t Total = 0;
  int LastTenth = -1;
};

}  // namespace scoutor::vepctl
