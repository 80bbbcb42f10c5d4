#include "appmodel/UpgradeAttempts.h"

#include <stdexcept>
#include <utility>

#include "protocol/StartEngine.h"
#include "transport/TftpClient.h"

namespace scoutor {

TUpgradeAttempts::TUpgradeAttempts(TUpload upload, TEventLoop& loop)
    : Upload(std::move(upload)), Loop(loop) {}

void TUpgradeAttempts::Start(const std::string& file, const std::string& address) {
  if (Current == TPhase::Uploading || Current == TPhase::Pausing)
    throw std::logic_error("an upgrade started while one runs");
  File = file;
  Address = address;
  AttemptCount = 0;
  Last = {};
  Attempt();
}

void TUpgradeAttempts::Attempt() {
  ++AttemptCount;
  SetPhase(TPhase::Uploading);
  std::weak_ptr<TUpgradeAttempts*> self = Self;
  Upload(File, Address, [self](const TUpgradeOutcome& outcome) {
    if (auto alive = self.lock()) (*alive)->AttemptEnded(outcome);
  });
}

void TUpgradeAttempts::AttemptEnded(const TUpgradeOutcome& outcome) {
  Last = outcome;
  if (AttemptCount == 2) {
    Log(outcome.Succeeded() ? "Second upgrade succeeded" : "Second Upgrade Failed");
    SetPhase(TPhase::Ended);
  } else if (outcome.Result == TUpgradeResult::AccessRefused) {
    Log("First Upgrade Failed");
    Log("Delay 10 seconds");
    Pause.Start(Loop, kRetryPauseMs, [this] {
      Log("Attempting second upgrade");
      Attempt();
    });
    SetPhase(TPhase::Pausing);
  } else {
    Log(outcome.Succeeded() ? "Upgrade succeeded" : "Upgrade Failed");
    SetPhase(TPhase::Ended);
  }
}

void TUpgradeAttempts::SetPhase(TPhase phase) {
  Current = phase;
  if (OnPhaseChange) OnPhaseChange();
}

void TUpgradeAttempts::Log(const char* line) {
  if (OnLogLine) OnLogLine(line);
}

TUpload EngineUpload(TEventLoop& loop) {
  return [&loop](const std::string& file, const std::string& address, TAttemptDone done) {
    if (EngineInstance != nullptr && EngineInstance->StartUpgrade(file, address, done)) return;
    const std::string reason =
        EngineInstance != nullptr ? "An upload is already running" : "No protocol engine";
    if (EngineInstance != nullptr) EngineInstance->ReportMessage("Upgrade failed with reason: " + reason);
    loop.Post([done = std::move(done), reason] { done({TUpgradeResult::OtherFailure, reason}); });
  };
}

TUpload ClientUpload(TTftpClient& client, TEventLoop& loop) {
  return [&client, &loop](const std::string& file, const std::string& address, TAttemptDone done) {
    client.Host = address;
    try {
      client.StartUpload(loop, file, kFirmwareRemoteName,
                         [done](std::exception_ptr error) { done(UpgradeOutcome(error)); });
    } catch (...) {
      loop.Post([done, error = std::current_exception()] { done(UpgradeOutcome(error)); });
    }
  };
}

}  // namespace scoutor
