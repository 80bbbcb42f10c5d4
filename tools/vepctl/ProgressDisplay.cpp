#include "tools/vepctl/ProgressDisplay.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace scoutor::vepctl {

namespace {

constexpr int kBarWidth = 40;

// Sent bytes as a share of the total in thousandths, clamped; an empty file counts as done.
int Permille(std::int64_t sent, std::int64_t total) {
  if (total <= 0) return 1000;
  return static_cast<int>(std::clamp<std::int64_t>(sent * 1000 / total, 0, 1000));
}

}  // namespace

void TProgressDisplay::Started(std::int64_t total) {
  Total = total;
  LastTenth = -1;
  Drawing = Terminal;
  Draw(0);
}

void TProgressDisplay::Progress(std::int64_t sent) {
  Draw(sent);
}

void TProgressDisplay::Ended() {
  if (Drawing) std::fputc('\n', stderr);
  Drawing = false;
}

void TProgressDisplay::Draw(std::int64_t sent) {
  const int permille = Permille(sent, Total);
  if (Terminal) {
    const int filled = permille * kBarWidth / 1000;
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kBarWidth - filled), ' ');
    std::fprintf(stderr, "\r[%s] %3d%% %" PRId64 "/%" PRId64 " bytes", bar.c_str(), permille / 10,
                 sent, Total);
  } else {
    const int tenth = permille / 100;
    if (tenth == LastTenth) return;
    LastTenth = tenth;
    std::fprintf(stderr, "progress %3d%% %" PRId64 "/%" PRId64 " bytes\n", permille / 10, sent,
                 Total);
  }
  std::fflush(stderr);
}

}  // namespace scoutor::vepctl
