// A second copy's request brings the running copy's main window and its topmost dialog back.
#include <QDialog>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

#include "ui/Activation.h"

namespace scoutor {

class ActivationTest : public QObject {
  Q_OBJECT

 private slots:
  void aSecondCopyRaisesTheMinimisedWindowAndItsDialog() {
    const QString lock = QString("ScoutorActivationTest%1").arg(getpid());
    QMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TActivationServer server(lock, window);
    QVERIFY(server.Listening());
    window.showMinimized();
    QVERIFY(window.isMinimized());

    QDialog dialog(&window);
    QSignalSpy activated(&server, &TActivationServer::Activated);
    QWidget* activeDialog = nullptr;
    QTimer::singleShot(0, this, [&] {
      QVERIFY(ActivateRunningCopy(lock));
      QVERIFY(activated.wait(5000));
      activeDialog = QApplication::activeModalWidget();
      dialog.accept();
    });
    dialog.exec();
    QCOMPARE(activated.count(), 1);
    QVERIFY(!window.isMinimized());
    QCOMPARE(activeDialog, &dialog);
  }

  void withoutARunningCopyNobodyAnswers() {
    QVERIFY(!ActivateRunningCopy(QString("ScoutorNobodyListens%1").arg(getpid()), 500));
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::ActivationTest)
#include "Activation_test.moc"
