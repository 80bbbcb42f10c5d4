#include "ui/Upgrade.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "appmodel/IPSettings.h"
#include "ui/AddressText.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/DesignFont.h"
#include "ui/QtNotifier.h"

namespace scoutor {

namespace {

TUpgradeForm* Installed = nullptr;

constexpr int kPauseStepMs = 100;

QLabel* GroupLabel(QGroupBox* group, const QString& text, int top) {
  auto* label = new QLabel(text, group);
  label->setGeometry(8, top, 94, 16);
  return label;
}

}  // namespace

TUpgradeForm::TUpgradeForm(TUpload upload, TEventLoop& loop, QWidget* parent)
    : QDialog(parent), Attempts(std::move(upload), loop), PauseTimer(loop) {
  setWindowTitle("Flash Upgrade");
  setAccessibleName("Flash Upgrade");
  setFixedSize(438, 133);
  UseDesignFont(*this);

  auto* group = new QGroupBox("Upgade Parameters", this);
  group->setGeometry(8, 8, 425, 89);
  group->setAccessibleName("Upgade Parameters");
  QLabel* fileLabel = GroupLabel(group, "Upgrade Filename", 27);
  QLabel* addressLabel = GroupLabel(group, "IP Address", 55);

  // Fields from 104 in, or further when the platform's font needs more room for the labels;
  // the file name field keeps its right end.
  const int fieldLeft = std::max(
      104, 8 + std::max(fileLabel->sizeHint().width(), addressLabel->sizeHint().width()) + 4);
  for (QLabel* label : {fileLabel, addressLabel}) label->resize(fieldLeft - 12, label->height());
  FileName = new QLineEdit(group);
  FileName->setGeometry(fieldLeft, 24, 337 - fieldLeft, 22);
  FileName->setAccessibleName(fileLabel->text());
  fileLabel->setBuddy(FileName);

  IPAddress = new TMaskedAddressEdit(group);
  IPAddress->setGeometry(fieldLeft, 52, 137, 22);
  IPAddress->setAccessibleName(addressLabel->text());
  addressLabel->setBuddy(IPAddress);

  ChooseButton = new QPushButton("Choose...", group);
  ChooseButton->setGeometry(342, 22, 75, 25);
  // Enter on a focused button presses that button; in a field it runs Upgrade, the default.
  ChooseButton->setAutoDefault(true);

  Upgrade = new QAction("Upgrade", this);
  Upgrade->setStatusTip("Start the upgrade process");
  Upgrade->setToolTip("Start the upgrade process");
  UpgradeButton = new QPushButton(Upgrade->text(), this);
  UpgradeButton->setGeometry(360, 104, 75, 25);
  UpgradeButton->setDefault(true);
  UpgradeButton->setToolTip(Upgrade->toolTip());

  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setGeometry(280, 104, 75, 25);
  CancelButton->setAutoDefault(true);
  for (QPushButton* button : {ChooseButton, UpgradeButton, CancelButton})
    button->setAccessibleName(button->text());

  Progress = new QProgressBar(this);
  Progress->setGeometry(8, 112, 177, 8);
  Progress->setRange(0, 100);
  Progress->setTextVisible(false);
  Progress->setAccessibleName("Upgrade progress");
  Progress->hide();

  OpenDialog = new QFileDialog(this, "Choose the Upgrade File");
  OpenDialog->setNameFilters({"Upgrade Files (*.bin)", "All Files (*)"});
  OpenDialog->setDefaultSuffix("bin");
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog->setOption(QFileDialog::DontUseNativeDialog);

  PauseTimer.SetInterval(kPauseStepMs);
  PauseTimer.OnTimer = [this] { PauseTimerTimer(); };
  Attempts.OnLogLine = [](const std::string& line) { LogLine(line); };
  Attempts.OnPhaseChange = [this] { PhaseChanged(); };

  connect(ChooseButton, &QPushButton::clicked, this, [this] { ChooseButtonClick(); });
  connect(UpgradeButton, &QPushButton::clicked, Upgrade, &QAction::trigger);
  connect(Upgrade, &QAction::triggered, this, [this] { RunCommand(this, [this] { UpgradeExecute(); }); });
  connect(Upgrade, &QAction::changed, this, [this] { UpgradeButton->setEnabled(Upgrade->isEnabled()); });
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(FileName, &QLineEdit::textChanged, this, [this] { UpgradeUpdate(); });
  connect(IPAddress, &QLineEdit::textChanged, this, [this] { UpgradeUpdate(); });
  UpgradeUpdate();
  Installed = this;
}

TUpgradeForm::~TUpgradeForm() {
  if (Installed == this) Installed = nullptr;
}

void TUpgradeForm::ChooseButtonClick() {
  if (Upgrading) return;
  if (OpenDialog->exec() == QDialog::Accepted && !OpenDialog->selectedFiles().isEmpty())
    FileName->setText(OpenDialog->selectedFiles().constFirst());
}

// Also keeps the button off for the whole upgrade, pause included.
void TUpgradeForm::UpgradeUpdate() {
  Upgrade->setEnabled(!Upgrading && !FileName->text().isEmpty() &&
                      !CompactIPText(IPAddress->text().toStdString()).empty());
}

// An address that is not complete ("10.77.1.299", "10.1.2.") is refused before anything is
// sent; one typed with leading zeros ("010.001.002.003") is 10.1.2.3, never an octal reading.
void TUpgradeForm::UpgradeExecute() {
  if (Upgrading) return;
  const std::string typed = CompactIPText(IPAddress->text().toStdString());
  const std::optional<std::string> address = CompleteAddress(typed);
  if (!address) {
    ShowBox(this, QMessageBox::Critical, ApplicationTitle(),
            QString::fromStdString(AsSentence(IncompleteAddressProblem("The IP address", typed))));
    return;
  }
  Upgrading = true;
  CancelButton->setEnabled(false);
  UpgradeUpdate();
  Attempts.Start(FileName->text().toStdString(), *address);
}

void TUpgradeForm::PhaseChanged() {
  switch (Attempts.Phase()) {
    case TUpgradeAttempts::TPhase::Pausing:
      Progress->setMaximum(100);
      Progress->setValue(0);
      PauseTimer.SetEnabled(true);
      break;
    case TUpgradeAttempts::TPhase::Ended:
      PauseTimer.SetEnabled(false);
      UpgradeEnded(Attempts.Outcome().Succeeded());
      break;
    case TUpgradeAttempts::TPhase::Uploading:
    case TUpgradeAttempts::TPhase::Idle:
      PauseTimer.SetEnabled(false);
      break;
  }
}

void TUpgradeForm::PauseTimerTimer() { Progress->setValue(Progress->value() + 1); }

void TUpgradeForm::UpgradeEnded(bool succeeded) {
  Progress->hide();
  if (succeeded)
    ShowBox(this, QMessageBox::Information, ApplicationTitle(), "Upgrade succeeded");
  else
    ShowBox(this, QMessageBox::Critical, ApplicationTitle(), "Upgrade Failed");
  Upgrading = false;
  CancelButton->setEnabled(true);
  UpgradeUpdate();
  if (succeeded) accept();
}

void TUpgradeForm::UpgradeStarted(int total) {
  Progress->show();
  Progress->setMaximum(total);
  Progress->setValue(0);
}

void TUpgradeForm::UpgradeProgress(int position) { Progress->setValue(position); }

// Esc, the Cancel button and the close box; refused while an upgrade runs.
void TUpgradeForm::reject() {
  if (!Upgrading) QDialog::reject();
}

void TUpgradeForm::closeEvent(QCloseEvent* event) {
  if (Upgrading) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void HandleUpgradeProgress(std::uint32_t event, const TVEPProgressEvent& progress) {
  if (event != vepUpgradeProgress || Installed == nullptr) return;
  if (progress.Kind == upStarted)
    Installed->UpgradeStarted(progress.Value);
  else if (progress.Kind == upProgress)
    Installed->UpgradeProgress(progress.Value);
}

}  // namespace scoutor
