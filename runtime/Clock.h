#pragma once
// The millisecond clock that timers and time-outs read. Tests put a manual clock in its place
// so that a timeline of seconds runs without sleeping.
#include <cstdint>

namespace scoutor {

class TClock {
 public:
  virtual ~TClock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual std::int64_t NowMs() const = 0;
};

// The machine's monotonic clock.
class TSteadyClock final : public TClock {
 public:
  std::int64_t NowMs() const override;
};

TClock& SteadyClock();

// A clock that moves only when told to.
class TManualClock final : public TClock {
 public:
  std::int64_t NowMs() const override { return Now; }
  void Advance(std::int64_t ms) { Now += ms; }
  void Set(std::int64_t ms) { Now = ms; }

 private:
  std::int64_t Now = 0;
};

}  // namespace scoutor
