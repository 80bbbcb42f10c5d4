#pragma once
// One device's part in an upgrade of several devices, on the main loop: the attempts of its
// upgrade (UpgradeAttempts.h) by a TFTP client of its own, then the wait until the device,
// restarting with its new firmware, is heard again. Each attempt's upload waits in the queue
// until whoever runs it starts it (it keeps their number down); it also sends the discovery
// broadcasts and hands over the replies. Main thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "appmodel/DeviceInfo.h"
#include "appmodel/UpgradeAttempts.h"
#include "protocol/UpgradeOutcome.h"
#include "runtime/SingleShot.h"
#include "transport/TftpClient.h"

namespace scoutor::vepctl {

class TDeviceUpgrade {
 public:
  enum class TPhase {
    Queued,  // waiting for its first upload to start
    Uploading,
    Pausing,     // refused once; waiting before the second attempt
    RetryDue,    // the pause is over; waiting for its second upload to start
    Restarting,  // uploaded; listening for the device
    Ended,
  };
  enum class TEnd { Upgraded, UploadFailed, NotHeardAgain };

  struct TSettings {
    std::string File;
    std::optional<int> Retries;  // the TFTP client's, when given
    int HeardWithinMs = 0;       // from the end of the upload
  };

  TDeviceUpgrade(const TDeviceInfo& device, const TSettings& settings);
  TDeviceUpgrade(const TDeviceUpgrade&) = delete;
  TDeviceUpgrade& operator=(const TDeviceUpgrade&) = delete;

  // After every change of phase, and after every data block sent.
  std::function<void()> OnPhaseChange;
  std::function<void()> OnProgress;

  // Starts the upload of the attempt that waits; only while Queued or RetryDue.
  void StartUpload();
  // A discovery broadcast has just gone out: while restarting, the device's replies count
  // from now on, never earlier ones that may still be on their way.
  void Asked();
  // A discovery reply of this device came.
  void Heard();

  const TDeviceInfo& Device() const { return Info; }
  TPhase Phase() const { return Current; }
  TEnd End() const { return Ending; }  // once Ended
  // Of the last attempt.
  const TUpgradeOutcome& Outcome() const { return Attempts.Outcome(); }
  int AttemptCount() const { return Attempts.Attempts(); }
  std::int64_t Sent() const { return SentBytes; }
  std::int64_t Total() const { return TotalBytes; }

 private:
  void Queue(TAttemptDone done);
  void AttemptsChanged();
  void Finish(TEnd end);
  void SetPhase(TPhase phase);

  const TDeviceInfo Info;
  const TSettings Settings;
  TTftpClient Client;
  TUpgradeAttempts Attempts;
  TAttemptDone Queued;  // the end of the upload that waits for its start
  TSingleShot Deadline;
  TPhase Current = TPhase::Queued;
  TEnd Ending = TEnd::Upgraded;
  bool Listening = false;  // restarting, and a broadcast went out since the upload ended
  std::int64_t SentBytes = 0;
  std::int64_t TotalBytes = 0;
};

}  // namespace scoutor::vepctl
