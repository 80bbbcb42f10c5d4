#pragma once
// Common base of the UDP and raw-socket components: keeps the shared socket stack alive while
// any component lives, and carries the work-progress events (used by the TFTP upload).
#include <cstdint>
#include <functional>

namespace scoutor {

enum class TWorkMode { Read = 0, Write = 1 };

class TTransportComponent {
 public:
  TTransportComponent();
  virtual ~TTransportComponent();
  TTransportComponent(const TTransportComponent&) = delete;
  TTransportComponent& operator=(const TTransportComponent&) = delete;

  std::function<void(TTransportComponent& sender, TWorkMode mode, std::int64_t workCountMax)>
      OnWorkBegin;
  // `workCount` is the running total of the work, not the latest step.
  std::function<void(TTransportComponent& sender, TWorkMode mode, std::int64_t workCount)> OnWork;
  std::function<void(TTransportComponent& sender, TWorkMode mode)> OnWorkEnd;

 protected:
  // Work steps may nest; only the outermost begin and end raise their events.
  void BeginWork(TWorkMode mode, std::int64_t total);
  void DoWork(TWorkMode mode, std::int64_t count);
  void EndWork(TWorkMode mode);

 private:
  struct TWorkState {
    int Nesting = 0;
    std::int64_t Total = 0;
    std::int64_t Count = 0;
  };
  TWorkState Work[2];
};

}  // namespace scoutor
