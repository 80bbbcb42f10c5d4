#pragma once
// Applies the rows of a checked IP plan, many devices at a time: each device is sent its
// set-IP, its acknowledgement awaited (up to a wait counted from the send), then its settings
// asked for (get-IP, the same wait from that request) and compared with its row. The engine
// keeps no state of requests and reports each acknowledgement and each settings reply with
// the ID text of the node ID it came from, so any number of devices can be between their
// set-IP and their settings at once; each is found by its ID text, and an answer from a device
// that waits for the other kind (a late reply, a repeated acknowledgement) is passed over.
// No more than the in-flight limit of devices are under way at once; when one ends, the next
// row's set-IP goes out at once, from inside the event that ended it. Nothing blocks: the
// steps run in the engine's events and in single-shot timers on the main loop. Main thread.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/VepFormat.h"
#include "runtime/SingleShot.h"
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
    TVEPNodeID Node{};
    TStage Stage = TStage::Queued;
    std::string AckFrom;
    TSingleShot Deadline;
  };

  void StartMore();
  void Acknowledged(const TDeviceInfo& acknowledgement);
  void SettingsReceived(const TDeviceInfo& settings);
  void End(TDevice& device, bool confirmed, const std::string& reason);
  TDevice* Find(const std::string& id, TStage stage);

  TSession& Session;
  const std::size_t Limit;
  const int WaitMs;
  std::vector<std::unique_ptr<TDevice>> Devices;
  std::unordered_map<std::string, TDevice*> ByID;
  std::size_t NextQueued = 0;
  std::size_t UnderWay = 0;
  std::size_t MostUnderWay = 0;
  std::size_t EndedCount = 0;
};

}  // namespace scoutor::vepctl
