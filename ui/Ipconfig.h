#pragma once
// The IP address properties dialog: asks the device named by DeviceID for its IP settings when
// it opens (waiting at most 3 s in the wait dialog), lets the user choose DHCP or a static
// address with mask and gateway, and sends them with Apply; a confirmed Apply closes it with
// OK. The device is addressed by its ID, never by its IP address. Only that device's replies
// count (appmodel/DeviceRequest.h): its settings fill the fields, its acknowledgement ends the
// wait after Apply; the fields never show another device's settings. Settings that cannot be
// sent are refused with a message; a static address that something already uses is sent only
// when the user confirms it. Created once and reused.
#include <QDialog>
#include <QString>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/IPSettings.h"
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
  TIPConfigForm(TVEPInterface& vep, TDeviceCommForm& wait, TEventLoop& loop,
                QWidget* parent = nullptr);

  // The ID text of the device to configure ("00:0A:1B:2C:3D:4E"); set before every showing.
  QString DeviceID;
  // The devices of the main window's list, for the check of an address in use.
  std::function<std::vector<TDeviceInfo>()> ListedDevices;

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
  void ShowSettings(const TDeviceInfo& info);
  void IPConfigReceived(const TDeviceInfo& info);
  void IPConfigApplied();
  void ActionList1Update();
  void ApplyExecute();
  void AddressChecked(const TIPSettings& settings);
  void SendSettings(const TIPSettings& settings);
  TIPSettings FieldSettings() const;
  TMaskedAddressEdit* AddField(const QString& label, int top);

  TVEPInterface& Vep;
  TDeviceCommForm& Wait;
  QFrame* AddressPanel;
  TDeviceRequest SettingsRequest;
  TDeviceRequest ApplyRequest;
  TAddressUseCheck UseCheck;
  // Each device's last settings reply: what its fields show when it does not answer again.
  std::map<std::string, TDeviceInfo> LastSettings;
};

}  // namespace scoutor
