#pragma once
// A rate limit for sends: at most `perSecond` in any second (edges included), spread over the
// second in slots (at least 10 ms long), each slot taking its share and no more. The caller
// asks before each turn of sends and tells each send; times are milliseconds of one clock.
#include <cstddef>
#include <cstdint>
#include <deque>

namespace scoutor {

class TSendPacer {
 public:
  explicit TSendPacer(unsigned perSecond);

  // Sends that may go at `nowMs`.
  std::size_t Allowance(std::int64_t nowMs);
  void Sent(std::int64_t nowMs);
  // How often the caller should come back while sends wait.
  int SlotMs() const { return Slot; }

 private:
  unsigned PerSecond;
  int Slot;
  std::size_t PerSlot;
  std::deque<std::int64_t> Recent;  // times of the sends within the last second, oldest first
};

}  // namespace scoutor
