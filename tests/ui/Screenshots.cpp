// Shows each dialog as a user meets it, on fake engine functions, and saves a picture of each
// into the folder given as the first argument (scripts/screenshots.sh runs it under Xvfb at
// scale 1 and 2). The second argument is appended to the file names ("@2x").
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QPixmap>
#include <QTimer>

#include "appmodel/DebugMode.h"
#include "tests/ui/FakeVep.h"
#include "ui/About.h"
#include "ui/Devicecomm.h"
#include "ui/Ipconfig.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/QtNotifier.h"
#include "ui/Upgrade.h"

using namespace scoutor;

namespace {

QString Folder, Suffix;

void Save(QWidget& window, const QString& name) {
  window.show();
  window.raise();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const QString path = QDir(Folder).filePath(name + Suffix + ".png");
  if (!window.grab().save(path)) qFatal("cannot write %s", qPrintable(path));
  window.hide();
}

// Saves the message box that the next step opens, then answers it with its default button.
void SaveNextBox(const QString& name) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, name] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll->stop();
    poll->deleteLater();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    const QString path = QDir(Folder).filePath(name + Suffix + ".png");
    if (!box->grab().save(path)) qFatal("cannot write %s", qPrintable(path));
    box->defaultButton() != nullptr ? box->defaultButton()->click() : box->reject();
  });
  poll->start();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) qFatal("usage: ui_screenshots FOLDER [SUFFIX]");
  Folder = argv[1];
  Suffix = argc > 2 ? argv[2] : "";
  QCoreApplication::setApplicationName("scoutor");
  SetDebugMode(true);

  TManualClock clock;
  TQtEventLoop loop(clock);
  TVEPInterface vep(loop, TFakeVep::Functions());
  TLogForm log;
  vep.LogLine = LogLine;
  TDeviceCommForm wait(loop);
  TIPConfigForm ipConfig(vep, wait, loop);
  TUpgradeForm upgrade([](const std::string&, const std::string&, TAttemptDone) {}, loop);
  TAboutForm about;

  Save(about, "about");

  wait.show();
  loop.Advance(1200);
  Save(wait, "wait");
  wait.done(QDialog::Accepted);

  // The get-IP reply arrives during the wait that opening the dialog starts.
  ipConfig.DeviceID = "00:0A:1B:2C:3D:4E";
  QTimer::singleShot(0, [] { TFakeVep::ReplyIPConfig("192.168.1.20", "255.255.255.0", "192.168.1.1", false); });
  Save(ipConfig, "ipconfig");

  // Settings that cannot be sent, and an address that another device holds.
  QTimer::singleShot(0, [] { TFakeVep::ReplyIPConfig("10.77.1.20", "255.255.255.0", "10.77.1.1", false); });
  QTimer::singleShot(50, [&ipConfig] {
    ipConfig.IPAddress->SetAddressText("10.77.1.299");
    SaveNextBox("refused-settings");
    ipConfig.ApplyButton->click();
    TDeviceInfo holder;
    holder.ID = "00:0A:1B:2C:3D:99";
    holder.IPAddress = "10.77.1.21";
    ipConfig.ListedDevices = [holder] { return std::vector<TDeviceInfo>{holder}; };
    ipConfig.IPAddress->SetAddressText(QString::fromStdString(holder.IPAddress));
    SaveNextBox("address-in-use");
    ipConfig.ApplyButton->click();
    QTimer::singleShot(500, &ipConfig, &QDialog::reject);
  });
  ipConfig.exec();

  upgrade.FileName->setText("/home/installer/firmware/vep-gateway-2.4.bin");
  upgrade.IPAddress->SetAddressText("192.168.1.20");
  upgrade.UpgradeStarted(1000);
  upgrade.UpgradeProgress(420);
  Save(upgrade, "upgrade");

  upgrade.IPAddress->SetAddressText("10.77.1");
  QTimer::singleShot(0, [&upgrade] {
    SaveNextBox("refused-upgrade-address");
    upgrade.UpgradeButton->click();
    upgrade.reject();
  });
  upgrade.exec();

  for (const char* line : {"Device Comm opened", "Got IP", "Device Comm opened", "First Upgrade Failed",
                           "Delay 10 seconds", "Attempting second upgrade", "Second upgrade succeeded"})
    LogLine(line);
  Save(log, "log");
  return 0;
}
