#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "appmodel/DebugMode.h"
#include "tests/ui/UiTest.h"
#include "ui/Devicecomm.h"
#include "ui/Log.h"
#include "ui/QtEventLoop.h"

namespace scoutor {

class DevicecommTest : public QObject {
  Q_OBJECT

  TManualClock Clock;
  TQtEventLoop* Loop = nullptr;
  TDeviceCommForm* Form = nullptr;
  TLogForm* Log = nullptr;

  bool OnlyTheWaitIsModal() const { return QApplication::activeModalWidget() == Form; }

 private slots:
  void init() {
    Loop = new TQtEventLoop(Clock);
    Form = new TDeviceCommForm(*Loop);
    Log = new TLogForm;
    SetDebugMode(false);
  }
  void cleanup() {
    delete Log;
    delete Form;
    delete Loop;
  }

  void aReplyAfterOneSecondEndsTheWaitWithOkWithoutAMessage() {
    bool noBox = false;
    InModalLoop([&] {
      Loop->Advance(1000);
      noBox = OnlyTheWaitIsModal();
      Form->EndWithOk();
    });
    QCOMPARE(Form->exec(), int(QDialog::Accepted));
    QVERIFY(noBox);
    QCOMPARE(Form->Progress()->value(), 10);
    QVERIFY(!Form->TimerRunning());
  }

  void withoutAReplyTheMessageComesAfterThreeSecondsThenCancel() {
    TSeenBox seen;
    bool noBoxBefore = false;
    std::int64_t openedAt = -1;
    const std::int64_t start = Clock.NowMs();
    InModalLoop([&] {
      Loop->Advance(2900);
      noBoxBefore = OnlyTheWaitIsModal();
      WhenBoxOpens([&](QMessageBox&) { openedAt = Clock.NowMs(); });
      AnswerNextBoxOk(seen);
      Loop->Advance(100);
    });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QVERIFY(noBoxBefore);
    QCOMPARE(openedAt - start, std::int64_t{3000});
    QCOMPARE(seen.Count, 1);
    QCOMPARE(seen.Text, QString("Communication Failed"));
    QCOMPARE(seen.Caption, QString("Failure"));
    QCOMPARE(seen.Icon, QMessageBox::NoIcon);
    QCOMPARE(seen.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.AccessibleDescription, QString("Communication Failed"));
    QVERIFY(!Form->TimerRunning());
  }

  void aReplyWhileTheMessageIsOpenStillEndsWithCancel() {
    WhenBoxOpens([&](QMessageBox& box) {
      Form->EndWithOk();
      box.button(QMessageBox::Ok)->click();
    });
    InModalLoop([&] { Loop->Advance(3000); });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
  }

  void twoWaitsEachStartFromAnEmptyBarAndAFullThreeSeconds() {
    InModalLoop([&] {
      Loop->Advance(1500);
      Form->EndWithOk();
    });
    QCOMPARE(Form->exec(), int(QDialog::Accepted));
    QCOMPARE(Form->Progress()->value(), 15);

    int barAtStart = -1;
    bool noBoxAtTwoNineSeconds = false;
    std::int64_t openedAfter = -1;
    const std::int64_t start = Clock.NowMs();
    InModalLoop([&] {
      barAtStart = Form->Progress()->value();
      Loop->Advance(2900);
      noBoxAtTwoNineSeconds = OnlyTheWaitIsModal();
      WhenBoxOpens([&](QMessageBox& box) {
        openedAfter = Clock.NowMs() - start;
        box.button(QMessageBox::Ok)->click();
      });
      Loop->Advance(100);
    });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QCOMPARE(barAtStart, 0);
    QVERIFY(noBoxAtTwoNineSeconds);
    QCOMPARE(openedAfter, std::int64_t{3000});
  }

  void cancelEscAndTheCloseBoxEndTheWaitAtOnceWithCancel() {
    InModalLoop([&] { QTest::mouseClick(Form->findChild<QPushButton*>(), Qt::LeftButton); });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    InModalLoop([&] { QTest::keyClick(Form, Qt::Key_Escape); });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    InModalLoop([&] { Form->close(); });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QVERIFY(!Form->TimerRunning());
    QCOMPARE(Form->Progress()->value(), 0);
  }

  void aReplyWhileNoWaitIsShowingIsLost() {
    Form->EndWithOk();
    InModalLoop([&] { QTest::keyClick(Form, Qt::Key_Escape); });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
  }

  void everyShowingWritesOneLogLineInDebugModeOnly() {
    InModalLoop([&] { Form->EndWithOk(); });
    Form->exec();
    QCOMPARE(Log->LogList()->count(), 0);

    SetDebugMode(true);
    for (int i = 0; i < 2; ++i) {
      InModalLoop([&] { Form->EndWithOk(); });
      Form->exec();
    }
    QCOMPARE(Log->LogList()->count(), 2);
    QCOMPARE(Log->LogList()->item(1)->text(), QString("Device Comm opened"));
  }

  void theLogDoesNotScrollToNewLines() {
    SetDebugMode(true);
    Log->show();
    for (int i = 0; i < 50; ++i) LogLine("line " + std::to_string(i));
    QCoreApplication::processEvents();
    QCOMPARE(Log->LogList()->count(), 50);
    QCOMPARE(Log->LogList()->verticalScrollBar()->value(), 0);
    QVERIFY(Log->LogList()->verticalScrollBar()->maximum() > 0);
  }

  void textsAndAccessibleNames() {
    QCOMPARE(Form->windowTitle(), QString("Communicating"));
    QCOMPARE(Form->findChild<QLabel*>()->text(), QString("Communicating with the device..."));
    QCOMPARE(Form->Progress()->maximum(), 30);
    QCOMPARE(Form->findChild<QPushButton*>()->text(), QString("Cancel"));
    for (QWidget* control : Form->findChildren<QWidget*>())
      QVERIFY2(!control->accessibleName().isEmpty() || qobject_cast<QLabel*>(control) != nullptr,
               qPrintable(control->metaObject()->className()));
    QCOMPARE(Log->windowTitle(), QString("LogForm"));
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::DevicecommTest)
#include "Devicecomm_test.moc"
