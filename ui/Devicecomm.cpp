#include "ui/Devicecomm.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

#include "ui/Log.h"
#include "ui/DesignFont.h"
#include "ui/QtNotifier.h"

namespace scoutor {

namespace {
constexpr int kTickMs = 100;
constexpr int kTicks = 30;  // 3 s
}  // namespace

TDeviceCommForm::TDeviceCommForm(TEventLoop& loop, QWidget* parent)
    : QDialog(parent), ComTimer(loop) {
  setWindowTitle("Communicating");
  setAccessibleName("Communicating");
  setFixedSize(444, 194);
  UseDesignFont(*this);

  Message = new QLabel("Communicating with the device...", this);
  Message->setGeometry(24, 40, 396, 24);
  Message->setAlignment(Qt::AlignCenter);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setRange(0, kTicks);
  ProgressBar->setTextVisible(false);
  ProgressBar->setGeometry(133, 84, 177, 8);
  ProgressBar->setAccessibleName("Communicating with the device...");

  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setGeometry(184, 130, 75, 25);
  CancelButton->setAccessibleName("Cancel");
  connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });

  ComTimer.SetInterval(kTickMs);
  ComTimer.OnTimer = [this] { ComTimerTimer(); };
}

// A window restored from minimised gets a spontaneous show event: the wait goes on.
void TDeviceCommForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TDeviceCommForm::FormShow() {
  setResult(0);
  ComTimer.SetEnabled(true);
  ProgressBar->setValue(0);
  LogLine("Device Comm opened");
}

void TDeviceCommForm::ComTimerTimer() {
  ProgressBar->setValue(ProgressBar->value() + 1);
  if (ProgressBar->value() < kTicks) return;
  ComTimer.SetEnabled(false);
  InTimeOutMessage = true;
  ShowBox(this, QMessageBox::NoIcon, "Failure", "Communication Failed");
  InTimeOutMessage = false;
  done(Rejected);
}

void TDeviceCommForm::CancelButtonClick() {
  ComTimer.SetEnabled(false);
  done(Rejected);
}

void TDeviceCommForm::EndWithOk() {
  if (!isVisible()) return;
  if (InTimeOutMessage)
    setResult(Accepted);
  else
    done(Accepted);
}

// Every ending passes here: Cancel, Esc and the close box (reject), a reply, the time-out.
void TDeviceCommForm::done(int result) {
  ComTimer.SetEnabled(false);
  QDialog::done(result);
}

}  // namespace scoutor
