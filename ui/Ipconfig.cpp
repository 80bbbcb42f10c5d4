#include "ui/Ipconfig.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "ui/AddressText.h"
#include "ui/Devicecomm.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/DesignFont.h"
#include "ui/QtNotifier.h"

namespace scoutor {

namespace {

const char* const kExplanation =
    "IP addresses can be obtained automatically using DHCP or specified explicitly. Using DHCP "
    "is preferred if it is available.\n\n"
    "If the IP address in the device list is 0.0.0.0 then a DHCP server is not available.";

const TSettingsFieldNames kFieldNames{"IP address", "Subnet mask", "Default gateway"};

// The field's address text; a field without a digit is empty.
std::string FieldText(const TMaskedAddressEdit& field) {
  const std::string stripped = StripBlanks(field.text().toStdString());
  return stripped == "..." ? std::string() : stripped;
}

}  // namespace

TIPConfigForm::TIPConfigForm(TVEPInterface& vep, TDeviceCommForm& wait, TEventLoop& loop,
                             QWidget* parent)
    : QDialog(parent),
      Vep(vep),
      Wait(wait),
      SettingsRequest(vep, loop),
      ApplyRequest(vep, loop),
      UseCheck({}, loop) {
  setWindowTitle("IP Address Properties");
  setAccessibleName("IP Address Properties");
  setFixedSize(447, 192);
  UseDesignFont(*this);

  auto* explanation = new QLabel(kExplanation, this);
  explanation->setWordWrap(true);
  explanation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  explanation->setGeometry(8, 8, 168, 176);

  AddrAuto = new QRadioButton("Obtain an IP address automatically", this);
  AddrAuto->setGeometry(184, 8, 255, 20);
  AddrStatic = new QRadioButton("Use the following IP address", this);
  AddrStatic->setGeometry(184, 32, 255, 20);
  auto* group = new QButtonGroup(this);
  group->addButton(AddrAuto);
  group->addButton(AddrStatic);
  AddrAuto->setChecked(true);
  for (QRadioButton* radio : {AddrAuto, AddrStatic}) radio->setAccessibleName(radio->text());

  AddressPanel = new QFrame(this);
  AddressPanel->setFrameShape(QFrame::StyledPanel);
  AddressPanel->setGeometry(184, 56, 255, 94);
  AddressPanel->setAccessibleName("Use the following IP address");
  IPAddress = AddField("IP address:", 8);
  SubnetMask = AddField("Subnet mask:", 36);
  DefaultGateway = AddField("Default gateway:", 64);

  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setGeometry(284, 159, 75, 25);
  // Enter on a focused button presses that button; in a field it runs Apply, the default.
  CancelButton->setAutoDefault(true);
  ApplyButton = new QPushButton("Apply", this);
  ApplyButton->setGeometry(364, 159, 75, 25);
  ApplyButton->setDefault(true);
  for (QPushButton* button : {CancelButton, ApplyButton}) button->setAccessibleName(button->text());
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
  connect(ApplyButton, &QPushButton::clicked, this, [this] { RunCommand(this, [this] { ApplyExecute(); }); });
  connect(AddrAuto, &QRadioButton::toggled, this, [this] { ActionList1Update(); });
  ActionList1Update();
}

TMaskedAddressEdit* TIPConfigForm::AddField(const QString& label, int top) {
  auto* caption = new QLabel(label, AddressPanel);
  caption->setGeometry(8, top + 3, 100, 16);
  auto* field = new TMaskedAddressEdit(AddressPanel);
  field->setGeometry(110, top, 137, 22);
  field->setAccessibleName(label);
  caption->setBuddy(field);
  return field;
}

void TIPConfigForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

// Whatever the outcome of the wait, the dialog then takes input. The fields show this device's
// settings: its reply, or without one its last reply, or the untouched fields of the first
// showing; never what another device told.
void TIPConfigForm::FormShow() {
  UseCheck.Cancel();
  ApplyRequest.Stop();
  const auto last = LastSettings.find(DeviceID.toStdString());
  if (last != LastSettings.end()) {
    ShowSettings(last->second);
  } else {
    for (TMaskedAddressEdit* field : {IPAddress, SubnetMask, DefaultGateway})
      field->SetAddressText({});
    AddrAuto->setChecked(true);
  }
  // A reply that comes after the wait still fills the fields, until Apply sends settings.
  SettingsRequest.OnAnswer = [this](const TDeviceInfo& info) { IPConfigReceived(info); };
  SettingsRequest.GetIP(DeviceID.toStdString(), 0);
  Wait.exec();
}

void TIPConfigForm::ShowSettings(const TDeviceInfo& info) {
  IPAddress->SetAddressText(QString::fromStdString(info.IPAddress));
  DefaultGateway->SetAddressText(QString::fromStdString(info.DefaultGateway));
  SubnetMask->SetAddressText(QString::fromStdString(info.SubnetMask));
  (info.DHCP ? AddrAuto : AddrStatic)->setChecked(true);
}

void TIPConfigForm::IPConfigReceived(const TDeviceInfo& info) {
  LastSettings[info.ID] = info;
  ShowSettings(info);
  Wait.EndWithOk();
  LogLine("Got IP");
}

void TIPConfigForm::IPConfigApplied() { Wait.EndWithOk(); }

// The address fields, labels included, take input only for a static address; they keep their
// text either way. Apply is always enabled.
void TIPConfigForm::ActionList1Update() { AddressPanel->setEnabled(AddrStatic->isChecked()); }

TIPSettings TIPConfigForm::FieldSettings() const {
  return {AddrAuto->isChecked(), FieldText(*IPAddress), FieldText(*SubnetMask),
          FieldText(*DefaultGateway)};
}

// Settings that cannot work, or a field that is not a complete address, are refused with what
// is wrong; nothing is sent and the dialog stays open. A static address is first checked
// against this host, the listed devices and the neighbour table.
void TIPConfigForm::ApplyExecute() {
  if (UseCheck.Running()) return;
  if (StripBlanks(IPAddress->text().toStdString()) == "...") {
    ShowBox(this, QMessageBox::Critical, ApplicationTitle(), "IP address must be entered.");
    return;
  }
  const TIPSettings settings = FieldSettings();
  if (const std::string problem = SendingProblem(settings, kFieldNames); !problem.empty()) {
    ShowBox(this, QMessageBox::Critical, ApplicationTitle(), QString::fromStdString(AsSentence(problem)));
    return;
  }
  if (settings.DHCP) {
    SendSettings(settings);
    return;
  }
  UseCheck.Start(SettingsToSend(settings).Address, DeviceID.toStdString(),
                 [this, settings] { AddressChecked(settings); });
}

void TIPConfigForm::AddressChecked(const TIPSettings& settings) {
  if (!isVisible()) return;  // closed before the check had ended: nothing is sent
  const std::string address = SettingsToSend(settings).Address;
  const std::string user = UseCheck.User(ListedDevices ? ListedDevices() : std::vector<TDeviceInfo>{});
  if (!user.empty() &&
      ShowBox(this, QMessageBox::Question, ApplicationTitle(),
              QString::fromStdString(InUseText(address, user) +
                                     ".\n\nSend it to the device all the same?"),
              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  SendSettings(settings);
}

void TIPConfigForm::SendSettings(const TIPSettings& settings) {
  SettingsRequest.Stop();
  ApplyRequest.OnAnswer = [this](const TDeviceInfo&) { IPConfigApplied(); };
  ApplyRequest.SetIP(DeviceID.toStdString(), settings, 0);
  const bool confirmed = Wait.exec() == QDialog::Accepted;
  ApplyRequest.Stop();
  if (confirmed) accept();
}

}  // namespace scoutor
