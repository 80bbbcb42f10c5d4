#pragma once
// The flash upgrade dialog: picks a firmware file and a device address and uploads the file,
// trying once more after a 10 s pause when the device refused access the first time (the
// upgrade's attempts, appmodel/UpgradeAttempts.h). An address that is not complete is refused
// before anything is sent. The upload runs on the event loop and the pause is a timer, so the
// window keeps repainting throughout; while it is busy its Cancel and Upgrade buttons are
// disabled and it cannot be closed. Created once and reused: the chosen file name stays from
// one opening to the next.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

#include "appmodel/UpgradeAttempts.h"
#include "protocol/VEP.h"
#include "runtime/Timer.h"

class QAction;
class QFileDialog;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace scoutor {

class TMaskedAddressEdit;

class TUpgradeForm final : public QDialog {
  Q_OBJECT

 public:
  // Becomes the dialog that HandleUpgradeProgress moves.
  // `upload`: how one attempt uploads (the engine's upload in the program).
  TUpgradeForm(TUpload upload, TEventLoop& loop, QWidget* parent = nullptr);
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
  void PhaseChanged();
  void PauseTimerTimer();
  void UpgradeEnded(bool succeeded);

  TUpgradeAttempts Attempts;
  TTimer PauseTimer;  // moves the bar through the pause before the second attempt
  bool Upgrading = false;
};

// The engine's vepUpgradeProgress events, as TVEPInterface::HandleUpgradeProgress passes them:
// upStarted shows the bar with the total as its maximum, upProgress moves it, anything else is
// ignored. Acts on the one upgrade dialog.
void HandleUpgradeProgress(std::uint32_t event, const TVEPProgressEvent& progress);

}  // namespace scoutor
