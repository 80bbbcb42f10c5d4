// The start-up option: "-d" whole and case-sensitive, wherever it stands; nothing else counts.
#include <QtTest>

#include "ui/Startup.h"

namespace scoutor {

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void onlyTheWholeLowerCaseDSwitchesDebugModeOn() {
    QVERIFY(DebugOptionGiven({"-d"}));
    QVERIFY(DebugOptionGiven({"--verbose", "file.bin", "-d"}));
    QVERIFY(!DebugOptionGiven({}));
    QVERIFY(!DebugOptionGiven({"-D"}));
    QVERIFY(!DebugOptionGiven({"--d"}));
    QVERIFY(!DebugOptionGiven({"-dd", "d", "-d ", "/d"}));
  }

  // The name the window gives the desktop is that of the entry installed with the program.
  void theDesktopEntryNamedIsTheOneInstalled() {
    QVERIFY(QFile::exists(QString(SCOUTOR_SOURCE_DIR "/ui/desktop/") + kDesktopEntry + ".desktop"));
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::StartupTest)
#include "Startup_test.moc"
