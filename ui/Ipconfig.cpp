#include "ui/Ipconfig.h"

#include <QButtonGroup>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "protocol/VEP.h"
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

// What goes to the device: the stripped field, in canonical form when it is a full address.
std::string FieldAddress(const TMaskedAddressEdit& field) {
  return CanonicalAddress(StripBlanks(field.text().toStdString()));
}

}  // namespace

TIPConfigForm::TIPConfigForm(TVEPInterface& vep, TDeviceCommForm& wait, QWidget* parent)
    : QDialog(parent), Vep(vep), Wait(wait) {
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

TVEPNodeID TIPConfigForm::DeviceNodeID() const {
  TVEPNodeID id{};
  VEPMacToID(DeviceID.toStdString().c_str(), id.data());
  return id;
}

// A window restored from minimised gets a spontaneous show event: that is no new showing.
void TIPConfigForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

// Whatever the outcome of the wait, the dialog then takes input; without a reply the fields
// keep what they showed last time.
void TIPConfigForm::FormShow() {
  const TVEPNodeID id = DeviceNodeID();
  Vep.OnIPConfig.Set(this, [this](TVEPInterface&, const TDeviceInfo& info) { IPConfigReceived(info); });
  Vep.GetIP(id);
  Wait.exec();
}

void TIPConfigForm::IPConfigReceived(const TDeviceInfo& info) {
  IPAddress->SetAddressText(QString::fromStdString(info.IPAddress));
  DefaultGateway->SetAddressText(QString::fromStdString(info.DefaultGateway));
  SubnetMask->SetAddressText(QString::fromStdString(info.SubnetMask));
  (info.DHCP ? AddrAuto : AddrStatic)->setChecked(true);
  Wait.EndWithOk();
  LogLine("Got IP");
}

void TIPConfigForm::IPConfigApplied() { Wait.EndWithOk(); }

// The address fields, labels included, take input only for a static address; they keep their
// text either way. Apply is always enabled.
void TIPConfigForm::ActionList1Update() { AddressPanel->setEnabled(AddrStatic->isChecked()); }

void TIPConfigForm::ApplyExecute() {
  if (StripBlanks(IPAddress->text().toStdString()) == "...") {
    ShowBox(this, QMessageBox::Critical, ApplicationTitle(), "IP address must be entered.");
    return;
  }
  const TVEPNodeID id = DeviceNodeID();
  Vep.OnIPConfig.Set(this, [this](TVEPInterface&, const TDeviceInfo&) { IPConfigApplied(); });
  Vep.SetIP(id, FieldAddress(*IPAddress), FieldAddress(*SubnetMask), FieldAddress(*DefaultGateway),
            AddrAuto->isChecked());
  if (Wait.exec() == QDialog::Accepted) accept();
}

}  // namespace scoutor
