// The upgrade dialog on the real engine against tftpd-hpa in a namespace: the image arrives
// byte for byte, the bar follows the upload, and the address typed with leading zeros is the
// device's.
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "appmodel/VEPInterface.h"
#include "protocol/StartEngine.h"
#include "tests/ui/TftpdPeer.h"
#include "tests/ui/UiTest.h"
#include "ui/EngineUpgrade.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/Upgrade.h"

namespace scoutor {

class UpgradeTftpHpaTest : public QObject {
  Q_OBJECT

  std::unique_ptr<test::TTftpdPeer> Peer;

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
    TVEPInterface vep(loop);
    vep.HandleUpgradeProgress = HandleUpgradeProgress;
    TUpgradeForm form(EngineUpgradeStarter(), loop, loop.Clock());
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
      });
      QTest::mouseClick(form.UpgradeButton, Qt::LeftButton);
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QCOMPARE(seen, QString("Upgrade succeeded"));
    QCOMPARE(barMaximum, int(kSize));
    QVERIFY(form.Progress->isHidden());

    QVERIFY(Peer->Stored(kSize) == test::TTftpdPeer::ReadFile(image));
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::UpgradeTftpHpaTest)
#include "UpgradeTftpHpa_test.moc"
