#pragma once
// The flash upgrade dialog: picks a firmware file and a device address and uploads the file,
// trying once more after a 10 s pause when the device refused access the first time. The
// upload runs on the event loop (an upgrade starter reports its result later), and the pause
// is a 100 ms timer measured on the loop's clock, so the window keeps repainting throughout;
// while it is busy its Cancel and Upgrade buttons are disabled and it cannot be closed.
// Created once and reused: the chosen file name stays from one opening to the next.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/VEP.h"
#include "runtime/Clock.h"
#include "runtime/Timer.h"

class QAction;
class QFileDialog;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace scoutor {

class TMaskedAddressEdit;

// Starts uploading `file` to the device at `address` (dotted) and returns at once; `done` runs
// later, on the loop's thread, with 0 (done), 1 (access refused), 2 (file not found) or 3 (any
// other failure). False, and `done` never runs, when the upload cannot start.
using TUpgradeStarter = std::function<bool(const std::string& file, const std::string& address,
                                           std::function<void(std::int32_t result)> done)>;

class TUpgradeForm final : public QDialog {
  Q_OBJECT

 public:
  // Becomes the dialog that HandleUpgradeProgress moves.
  TUpgradeForm(TUpgradeStarter startUpgrade, TEventLoop& loop, TClock& clock,
               QWidget* parent = nullptr);
  ~TUpgradeForm() override;

  QLineEdit* FileName;
  TMaskedAddressEdit* IPAddress;
  QPushButton* ChooseButton;
  QPushButton* UpgradeButton;
  QPushButton* CancelButton;
  QProgressBar* Progress;
  QFileDialog* OpenDialog;
  QAction* Upgrade;

  bool Busy() const { return Upgrading; }

  void UpgradeStarted(int total);
  void UpgradeProgress(int position);

  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ChooseButtonClick();
  void UpgradeUpdate();
  void UpgradeExecute();
  void StartAttempt(int attempt);
  void AttemptEnded(int attempt, std::int32_t result);
  void PauseTimerTimer();
  void UpgradeEnded(bool succeeded);

  TUpgradeStarter StartUpgrade;
  TClock& Clock;
  TTimer PauseTimer;
  std::int64_t PauseStartMs = 0;
  bool Upgrading = false;
  std::string File;
  std::string Address;
};

// The engine's vepUpgradeProgress events, as TVEPInterface::HandleUpgradeProgress passes them:
// upStarted shows the bar with the total as its maximum, upProgress moves it, anything else is
// ignored. Acts on the one upgrade dialog.
void HandleUpgradeProgress(std::uint32_t event, const TVEPProgressEvent& progress);

}  // namespace scoutor
