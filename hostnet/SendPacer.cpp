#include "hostnet/SendPacer.h"

#include <algorithm>

namespace scoutor {

namespace {
constexpr std::int64_t kWindowMs = 1000;
constexpr int kShortestSlotMs = 10;
}  // namespace

TSendPacer::TSendPacer(unsigned perSecond)
    : PerSecond(std::max(1u, perSecond)),
      Slot(std::max<int>(kShortestSlotMs,
                         static_cast<int>((kWindowMs + PerSecond - 1) / PerSecond))),
      // A slot's share, rounded up; the one-second window keeps the sum to the rate.
      PerSlot(std::max<std::size_t>(
          1, (static_cast<std::size_t>(PerSecond) * Slot + kWindowMs - 1) / kWindowMs)) {}

std::size_t TSendPacer::Allowance(std::int64_t nowMs) {
  // The window is closed at both ends, so that no second, however its edges fall on the
  // clock's milliseconds, holds more than the rate.
  while (!Recent.empty() && Recent.front() < nowMs - kWindowMs) Recent.pop_front();
  const std::size_t inSlot = static_cast<std::size_t>(
      Recent.end() - std::upper_bound(Recent.begin(), Recent.end(), nowMs - Slot));
  const std::size_t bySecond = PerSecond > Recent.size() ? PerSecond - Recent.size() : 0;
  const std::size_t bySlot = PerSlot > inSlot ? PerSlot - inSlot : 0;
  return std::min(bySecond, bySlot);
}

void TSendPacer::Sent(std::int64_t nowMs) {
  Recent.push_back(nowMs);
}

}  // namespace scoutor
