#pragma once
// The IP address properties dialog: asks the device named by DeviceID for its IP settings when
// it opens (waiting at most 3 s in the wait dialog), lets the user choose DHCP or a static
// address with mask and gateway, and sends them with Apply; a confirmed Apply closes it with
// OK. The device is addressed by its ID, never by its IP address. Created once and reused.
#include <QDialog>
#include <QString>

#include "appmodel/VEPInterface.h"

class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace scoutor {

class TDeviceCommForm;
class TMaskedAddressEdit;

class TIPConfigForm final : public QDialog {
  Q_OBJECT

 public:
  TIPConfigForm(TVEPInterface& vep, TDeviceCommForm& wait, QWidget* parent = nullptr);

  // The ID text of the device to configure ("00:0A:1B:2C:3D:4E"); set before every showing.
  QString DeviceID;

  QRadioButton* AddrAuto;
  QRadioButton* AddrStatic;
  TMaskedAddressEdit* IPAddress;
  TMaskedAddressEdit* SubnetMask;
  TMaskedAddressEdit* DefaultGateway;
  QPushButton* CancelButton;
  QPushButton* ApplyButton;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void IPConfigReceived(const TDeviceInfo& info);
  void IPConfigApplied();
  void ActionList1Update();
  void ApplyExecute();
  TVEPNodeID DeviceNodeID() const;
  TMaskedAddressEdit* AddField(const QString& label, int top);

  TVEPInterface& Vep;
  TDeviceCommForm& Wait;
  QFrame* AddressPanel;
};

}  // namespace scoutor
