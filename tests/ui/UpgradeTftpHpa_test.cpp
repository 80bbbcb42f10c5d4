// The upgrade dialog on the real engine against tftpd-hpa in a namespace: the image arrives
// byte for byte, the bar follows the upload, and the address typed with leading zeros is the
// device's.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "appmodel/DebugMode.h"
#include "appmodel/VEPInterface.h"
#include "protocol/StartEngine.h"
#include "tests/ui/TftpdPeer.h"
#include "tests/ui/UiTest.h"
#include "appmodel/UpgradeAttempts.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/Upgrade.h"

namespace scoutor {

class UpgradeTftpHpaTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TTftpdPeer> Peer;
  QStringList Reasons;

 private slots:
  void init() {
    if (const std::string why = test::TNetnsBed::Unavailable(); !why.empty())
      QSKIP(qPrintable(QString::fromStdString("needs network namespaces (root): " + why)));
    Peer = std::make_unique<test::TTftpdPeer>();
    QVERIFY2(Peer->Start(), "tftpd-hpa does not listen on port 69");
  }
  void cleanup() { Peer.reset(); }

  void theImageArrivesByteForByteAndTheDialogCloses() {
    constexpr std::size_t kSize = 3 * 1024 * 1024 + 123;
    const std::string image = Peer->WriteImage(kSize);
    test::TNamespaceScope inClient(Peer->ClientNs);
    TQtEventLoop loop;
    TMainLoopScope mainLoop(loop);
    QVERIFY(EngineInstance != nullptr || StartEngine());
    SetDebugMode(true);  // the engine's reason for a failure becomes a message event
    TVEPInterface vep(loop);
    vep.LogLine = [this](const std::string& line) { Reasons << QString::fromStdString(line); };
    vep.HandleUpgradeProgress = HandleUpgradeProgress;
    TUpgradeForm form(EngineUpload(), loop);
    form.FileName->setText(QString::fromStdString(image));
    form.IPAddress->setFocus();
    form.IPAddress->setCursorPosition(0);
    QTest::keyClicks(form.IPAddress, "010.071.000.001");  // 10.71.0.1, not an octal reading

    QString seen;
    int barMaximum = 0;
    InModalLoop([&] {
      WhenBoxOpens([&](QMessageBox& box) {
        barMaximum = form.Progress->maximum();
        seen = box.text();
        box.button(QMessageBox::Ok)->click();
        // After a failure the dialog stays open: close it so that the test reports it.
        if (seen != "Upgrade succeeded") WhenModal(&form, [&form] { form.reject(); });
      });
      QTest::mouseClick(form.UpgradeButton, Qt::LeftButton);
    });
    const int result = form.exec();
    QVERIFY2(result == QDialog::Accepted, qPrintable(Reasons.join("; ")));
    QCOMPARE(seen, QString("Upgrade succeeded"));
    QCOMPARE(barMaximum, int(kSize));
    QVERIFY(form.Progress->isHidden());

    QVERIFY(Peer->Stored(kSize) == test::TTftpdPeer::ReadFile(image));
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::UpgradeTftpHpaTest)
#include "UpgradeTftpHpa_test.moc"
