#pragma once
// The attempts of one firmware upgrade: an upload; when the device refuses the first one with
// an access violation (it may still be busy with its previous upload), a pause of 10 s and one
// more upload; nothing else is tried again. The uploads are the caller's, behind TUpload: the
// engine's for the window, a TFTP client per device for vepctl. The result is data, the last
// attempt's outcome; the log lines that tell the story are given as they happen. Used by the
// upgrade dialog and by vepctl's upgrades of one device and of several. Main loop thread only.
#include <functional>
#include <memory>
#include <string>

#include "protocol/UpgradeOutcome.h"
#include "runtime/SingleShot.h"

namespace scoutor {

class TTftpClient;

using TAttemptDone = std::function<void(const TUpgradeOutcome& outcome)>;
// Starts one upload of `file` to the device at `address` (dotted); `done` runs exactly once on
// the loop's thread, when the upload has ended (or could not start). It may queue the upload
// first, to keep the number of uploads down.
using TUpload =
    std::function<void(const std::string& file, const std::string& address, TAttemptDone done)>;

class TUpgradeAttempts {
 public:
  enum class TPhase { Idle, Uploading, Pausing, Ended };
  static constexpr int kRetryPauseMs = 10000;

  explicit TUpgradeAttempts(TUpload upload, TEventLoop& loop = MainLoop());
  TUpgradeAttempts(const TUpgradeAttempts&) = delete;
  TUpgradeAttempts& operator=(const TUpgradeAttempts&) = delete;

  // Starts the first attempt; only while Idle or Ended.
  void Start(const std::string& file, const std::string& address);

  // After every change of phase: the second attempt's upload starts when the pause ends.
  std::function<void()> OnPhaseChange;
  // "Upgrade succeeded", "Upgrade Failed", "First Upgrade Failed", "Delay 10 seconds",
  // "Attempting second upgrade", "Second upgrade succeeded", "Second Upgrade Failed".
  std::function<void(const std::string& line)> OnLogLine;

  TPhase Phase() const { return Current; }
  int Attempts() const { return AttemptCount; }
  // Of the last attempt; once Ended, the upgrade's.
  const TUpgradeOutcome& Outcome() const { return Last; }

 private:
  void Attempt();
  void AttemptEnded(const TUpgradeOutcome& outcome);
  void SetPhase(TPhase phase);
  void Log(const char* line);

  TUpload Upload;
  TEventLoop& Loop;
  TSingleShot Pause;
  std::string File;
  std::string Address;
  TPhase Current = TPhase::Idle;
  int AttemptCount = 0;
  TUpgradeOutcome Last;
  // An upload's end that comes after this object is gone finds nothing to report to.
  std::shared_ptr<TUpgradeAttempts*> Self = std::make_shared<TUpgradeAttempts*>(this);
};

// Uploads on the process's protocol engine (progress as its vepUpgradeProgress events); one at
// a time: an upload asked for while another runs fails at once.
TUpload EngineUpload(TEventLoop& loop = MainLoop());
// Uploads on `client` (its host set to the address each time); the client outlives the uploads.
TUpload ClientUpload(TTftpClient& client, TEventLoop& loop = MainLoop());

}  // namespace scoutor
