#pragma once
// Applies the rows of a checked IP plan, many devices at a time: each device is sent its
// set-IP, its acknowledgement awaited (up to a wait counted from the send), then its settings
// asked for (get-IP, the same wait from that request) and compared with its row. Each device
// has a request of its own (DeviceRequest.h), which hears only that device's answer of the
// kind it waits for, so any number of devices can be between their set-IP and their settings
// at once, and a late reply or a repeated acknowledgement is passed over.
// No more than the in-flight limit of devices are under way at once; when one ends, the next
// row's set-IP goes out at once, from inside the event that ended it. Nothing blocks: the
// steps run in the engine's events and in single-shot timers on the main loop. Main thread.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appmodel/DeviceRequest.h"
#include "tools/vepctl/IPPlan.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

struct TPlanOutcome {
  const TPlanRow* Row = nullptr;
  bool Confirmed = false;  // acknowledged, and the settings read back are the row's
  std::string AckFrom;     // where the acknowledgement came from; empty without one
  std::string Reason;      // why not, unless confirmed
};

class TPlanApplier {
 public:
  TPlanApplier(TSession& session, const std::vector<TPlanRow>& rows, std::size_t inFlight,
               int waitMs);
  ~TPlanApplier();
  TPlanApplier(const TPlanApplier&) = delete;
  TPlanApplier& operator=(const TPlanApplier&) = delete;

  // Called as each device ends, confirmed or not.
  std::function<void(const TPlanOutcome& outcome)> OnDeviceDone;

  // Runs until every row has ended; each ends within two waits of its set-IP.
  void Run();

  // The most devices that were under way at once.
  std::size_t MostInFlight() const { return MostUnderWay; }

 private:
  enum class TStage { Queued, AwaitAcknowledgement, AwaitSettings, Ended };
  struct TDevice {
    const TPlanRow* Row = nullptr;
    TStage Stage = TStage::Queued;
    std::string AckFrom;
    std::unique_ptr<TDeviceRequest> Request;
  };

  void StartMore();
  void Answered(TDevice& device, const TDeviceInfo& answer);
  void TimedOut(TDevice& device);
  void End(TDevice& device, bool confirmed, const std::string& reason);

  TSession& Session;
  const std::size_t Limit;
  const int WaitMs;
  const int RequestTimeoutMs;
  std::vector<std::unique_ptr<TDevice>> Devices;
  std::size_t NextQueued = 0;
  std::size_t UnderWay = 0;
  std::size_t MostUnderWay = 0;
  std::size_t EndedCount = 0;
};

}  // namespace scoutor::vepctl
