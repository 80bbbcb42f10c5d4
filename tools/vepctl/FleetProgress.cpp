#include "tools/vepctl/FleetProgress.h"

#include <algorithm>
#include <cstdio>

namespace scoutor::vepctl {

namespace {

constexpr int kBarWidth = 20;
constexpr const char* kClearLine = "\r\033[K";

void AddCount(std::string& line, int count, const char* step) {
  if (count > 0) line += ", " + std::to_string(count) + " " + step;
}

std::string Line(const TFleetCounts& counts) {
  const int filled = counts.Devices > 0 ? counts.Ended * kBarWidth / counts.Devices : kBarWidth;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " +
                     std::to_string(counts.Ended) + "/" + std::to_string(counts.Devices) + " ended";
  if (counts.Uploading > 0) {
    const std::int64_t percent =
        counts.Total > 0 ? std::clamp<std::int64_t>(counts.Sent * 100 / counts.Total, 0, 100) : 0;
    line += ", " + std::to_string(counts.Uploading) + " uploading " + std::to_string(percent) + "%";
  }
  AddCount(line, counts.Pausing, "pausing");
  AddCount(line, counts.Restarting, "restarting");
  AddCount(line,
           counts.Devices - counts.Ended - counts.Uploading - counts.Pausing - counts.Restarting,
           "queued");
  return line;
}

}  // namespace

void TFleetProgress::Show(const TFleetCounts& counts) {
  if (!Terminal) return;
  const std::string line = Line(counts);
  if (line == Shown) return;
  std::fprintf(stderr, "%s%s", kClearLine, line.c_str());
  std::fflush(stderr);
  Shown = line;
}

void TFleetProgress::Hide() {
  if (Shown.empty()) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
  Shown.clear();
}

}  // namespace scoutor::vepctl
