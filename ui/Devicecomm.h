#pragma once
// The wait dialog: shown modally while the program waits for a device's answer. Its bar fills
// in 3 s (30 ticks of 100 ms); a reply handler of the window that sent the request ends it
// with OK (EndWithOk); without a reply it says "Communication Failed" and ends with Cancel.
// Cancel, Esc and the close box end it with Cancel at any time. Created once and reused; every
// showing starts with no result and an empty bar.
#include <QDialog>

#include "runtime/Timer.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace scoutor {

class TDeviceCommForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TDeviceCommForm(TEventLoop& loop, QWidget* parent = nullptr);

  // A reply arrived: ends a showing wait with OK. While the time-out message is open it only
  // sets the result, which the time-out then replaces by Cancel; when no wait is showing it has
  // no effect.
  void EndWithOk();

  QProgressBar* Progress() const { return ProgressBar; }
  bool TimerRunning() const { return ComTimer.Enabled(); }

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void ComTimerTimer();
  void CancelButtonClick();

  QLabel* Message;
  QProgressBar* ProgressBar;
  QPushButton* CancelButton;
  TTimer ComTimer;
  bool InTimeOutMessage = false;
};

}  // namespace scoutor
