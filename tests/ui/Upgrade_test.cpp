#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "appmodel/DebugMode.h"
#include "appmodel/VEPInterface.h"
#include "tests/ui/FakeVep.h"
#include "tests/ui/UiTest.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/QtNotifier.h"
#include "ui/Upgrade.h"

namespace scoutor {

// An upload that ends when the test says so; every start is recorded with the clock's time.
struct TFakeUpload {
  struct TStart {
    std::string File;
    std::string Address;
    std::int64_t AtMs;
  };
  std::vector<TStart> Starts;
  TAttemptDone Done;

  TUpload Starter(TClock& clock) {
    return [this, &clock](const std::string& file, const std::string& address,
                          TAttemptDone done) {
      Starts.push_back({file, address, clock.NowMs()});
      Done = std::move(done);
    };
  }
  void End(std::int32_t result) {
    std::exchange(Done, nullptr)({static_cast<TUpgradeResult>(result), std::nullopt});
  }
};

class UpgradeTest : public QObject {
  Q_OBJECT

  TManualClock Clock;
  TQtEventLoop* Loop = nullptr;
  TFakeUpload Upload;
  TUpgradeForm* Form = nullptr;
  TLogForm* Log = nullptr;

  QStringList LogLines() const {
    QStringList lines;
    for (int i = 0; i < Log->LogList()->count(); ++i) lines << Log->LogList()->item(i)->text();
    return lines;
  }
  void FillIn(const QString& file, const QString& address) {
    Form->FileName->setText(file);
    Form->IPAddress->setFocus();
    Form->IPAddress->setCursorPosition(0);
    QTest::keyClicks(Form->IPAddress, address);
  }
  void Progress(std::int32_t kind, std::int32_t value) {
    HandleUpgradeProgress(vepUpgradeProgress, TVEPProgressEvent{kind, value});
  }
  bool ButtonsEnabled() const {
    return Form->UpgradeButton->isEnabled() || Form->CancelButton->isEnabled();
  }

 private slots:
  void init() {
    SetDebugMode(true);
    Upload = TFakeUpload();
    Loop = new TQtEventLoop(Clock);
    Form = new TUpgradeForm(Upload.Starter(Clock), *Loop);
    Log = new TLogForm;
  }
  void cleanup() {
    delete Log;
    delete Form;
    delete Loop;
    SetDebugMode(false);
  }

  void theUpgradeButtonNeedsAFileAndADigitInTheAddress() {
    QVERIFY(!Form->UpgradeButton->isEnabled());
    Form->FileName->setText("/tmp/firmware.bin");
    QVERIFY(!Form->UpgradeButton->isEnabled());
    FillIn("/tmp/firmware.bin", "7");
    QVERIFY(Form->UpgradeButton->isEnabled());
    Form->FileName->clear();
    QVERIFY(!Form->UpgradeButton->isEnabled());
  }

  void aRefusedFirstAttemptIsRetriedTenSecondsLaterAndTheDialogCloses() {
    FillIn("/tmp/firmware.bin", "192.168.1.5");
    TSeenBox seen;
    bool buttonsDuringUpload = true, buttonsDuringPause = true, closedWhileBusy = true;
    int barDuringPause = -1;
    InModalLoop([&] {
      QTest::mouseClick(Form->UpgradeButton, Qt::LeftButton);
      Progress(upStarted, 4000);
      Progress(upProgress, 1500);
      buttonsDuringUpload = ButtonsEnabled();
      Loop->Advance(2000);  // the upload takes its time
      Upload.End(1);
      Loop->Advance(5000);
      barDuringPause = Form->Progress->value();
      buttonsDuringPause = ButtonsEnabled();
      QTest::keyClick(Form, Qt::Key_Escape);
      Form->close();
      closedWhileBusy = !Form->isVisible();
      Loop->Advance(4900);
      QCOMPARE(Upload.Starts.size(), std::size_t{1});
      Loop->Advance(100);
      QCOMPARE(Upload.Starts.size(), std::size_t{2});
      AnswerNextBoxOk(seen);
      Upload.End(0);
    });
    QCOMPARE(Form->exec(), int(QDialog::Accepted));
    QVERIFY(!buttonsDuringUpload);
    QVERIFY(!buttonsDuringPause);
    QVERIFY(!closedWhileBusy);
    QCOMPARE(barDuringPause, 50);
    QCOMPARE(Upload.Starts.size(), std::size_t{2});
    QCOMPARE(Upload.Starts[1].AtMs - 2000, std::int64_t{10000});
    QCOMPARE(Upload.Starts[1].Address, std::string("192.168.1.5"));
    QCOMPARE(Upload.Starts[1].File, std::string("/tmp/firmware.bin"));
    QCOMPARE(seen.Text, QString("Upgrade succeeded"));
    QCOMPARE(seen.Icon, QMessageBox::Information);
    QCOMPARE(LogLines(), QStringList({"First Upgrade Failed", "Delay 10 seconds",
                                      "Attempting second upgrade", "Second upgrade succeeded"}));
    QVERIFY(Form->Progress->isHidden());
    QVERIFY(Form->CancelButton->isEnabled());
  }

  void fileNotFoundFailsAtOnceAndTheDialogStaysOpen() {
    FillIn("/tmp/firmware.bin", "192.168.1.5");
    TSeenBox seen;
    bool openAfterFailure = false, buttonsAfterFailure = false;
    InModalLoop([&] {
      QTest::mouseClick(Form->UpgradeButton, Qt::LeftButton);
      Progress(upStarted, 4000);
      AnswerNextBoxOk(seen);
      Upload.End(2);
      openAfterFailure = Form->isVisible();
      buttonsAfterFailure = Form->UpgradeButton->isEnabled() && Form->CancelButton->isEnabled();
      QTest::mouseClick(Form->CancelButton, Qt::LeftButton);
    });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QVERIFY(openAfterFailure);
    QVERIFY(buttonsAfterFailure);
    QCOMPARE(Upload.Starts.size(), std::size_t{1});
    QCOMPARE(seen.Text, QString("Upgrade Failed"));
    QCOMPARE(seen.Icon, QMessageBox::Critical);
    QCOMPARE(LogLines(), QStringList({"Upgrade Failed"}));
    QVERIFY(Form->Progress->isHidden());
  }

  void aFailedSecondAttemptIsOneFailureMessage() {
    FillIn("/tmp/firmware.bin", "192.168.1.5");
    TSeenBox seen;
    InModalLoop([&] {
      QTest::mouseClick(Form->UpgradeButton, Qt::LeftButton);
      Upload.End(1);
      Loop->Advance(10000);
      AnswerNextBoxOk(seen);
      Upload.End(1);
      Form->reject();
    });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QCOMPARE(seen.Count, 1);
    QCOMPARE(seen.Text, QString("Upgrade Failed"));
    QCOMPARE(LogLines().last(), QString("Second Upgrade Failed"));
  }

  void anUploadThatCannotStartIsOneFailure() {
    TUpgradeForm refusing(
        [this](const std::string&, const std::string&, TAttemptDone done) {
          Loop->Post([done] { done({TUpgradeResult::OtherFailure, "An upload is already running"}); });
        },
        *Loop);
    refusing.FileName->setText("/tmp/firmware.bin");
    refusing.IPAddress->SetAddressText("10.0.0.7");
    TSeenBox seen;
    InModalLoop([&] {
      AnswerNextBoxOk(seen);
      QTest::mouseClick(refusing.UpgradeButton, Qt::LeftButton);
      Loop->Advance(10);
      refusing.reject();
    });
    QCOMPARE(refusing.exec(), int(QDialog::Rejected));
    QCOMPARE(seen.Text, QString("Upgrade Failed"));
    QCOMPARE(LogLines(), QStringList({"Upgrade Failed"}));
  }

  void leadingZerosReachTheUploadAsTheirDecimalValue() {
    TSeenBox seen;
    FillIn("/tmp/firmware.bin", "010.001.002.003");
    InModalLoop([&] {
      QTest::keyClick(Form->IPAddress, Qt::Key_Return);  // Enter: the default button
      AnswerNextBoxOk(seen);
      Upload.End(0);
    });
    Form->exec();
    QCOMPARE(Upload.Starts.at(0).Address, std::string("10.1.2.3"));
  }

  // Editing keys, undo and paste keep the field whole; Enter on the focused Choose... or Cancel
  // presses that button, never the default Upgrade.
  void theKeyboardKeepsTheFieldWholeAndEnterOnChooseOrCancelStartsNoUpload() {
    FillIn("/tmp/firmware.bin", "192.168.1.5");
    QApplication::clipboard()->setText("10.0.0.7");
    for (const QKeySequence& key :
         {QKeySequence(Qt::CTRL | Qt::Key_U), QKeySequence(QKeySequence::Undo),
          QKeySequence(Qt::CTRL | Qt::Key_K), QKeySequence(QKeySequence::DeleteEndOfWord),
          QKeySequence(QKeySequence::Paste)})
      QTest::keySequence(Form->IPAddress, key);
    QTest::keyClicks(Form->IPAddress, "2");
    QCOMPARE(Form->IPAddress->text(), QString("20 .0  .0  .7  "));
    bool chooserOpened = false;
    TSeenBox seen;
    InModalLoop([&] {
      WhenModal(Form->OpenDialog, [&] {
        chooserOpened = true;
        Form->OpenDialog->reject();
      });
      Form->ChooseButton->setFocus();
      QTest::keyClick(Form->ChooseButton, Qt::Key_Return);
      Form->CancelButton->setFocus();
      QTest::keyClick(Form->CancelButton, Qt::Key_Return);
      if (Upload.Done) {  // an upload started by mistake ends, so that the dialog can close
        AnswerNextBoxOk(seen);
        Upload.End(3);
        Form->reject();
      }
    });
    QCOMPARE(Form->exec(), int(QDialog::Rejected));
    QVERIFY(chooserOpened);
    QVERIFY(Upload.Starts.empty());
  }

  // A typo or a partly filled address never reaches a device: the dialog says what is wrong
  // and stays open with its buttons enabled.
  void aPartialOrMistypedAddressIsRefusedAndNothingIsSent() {
    const std::pair<QString, QString> cases[] = {
        {"10", "The IP address 10. is not a complete address (four numbers from 0 to 255)."},
        {"10.77.1.299",
         "The IP address 10.77.1.299 is not a complete address (four numbers from 0 to 255)."}};
    for (const auto& [typed, message] : cases) {
      Form->IPAddress->SetAddressText({});
      FillIn("/tmp/firmware.bin", typed);
      TSeenBox seen;
      InModalLoop([&] {
        AnswerNextBoxOk(seen);
        QTest::mouseClick(Form->UpgradeButton, Qt::LeftButton);
        Form->reject();
      });
      QCOMPARE(Form->exec(), int(QDialog::Rejected));
      QCOMPARE(seen.Text, message);
      QCOMPARE(seen.Icon, QMessageBox::Critical);
      QCOMPARE(seen.Caption, ApplicationTitle());
    }
    QVERIFY(Upload.Starts.empty());
    QVERIFY(Form->CancelButton->isEnabled());
  }

  void progressEventsMoveTheBarThroughTheApplicationInterface() {
    TFakeVep::Reset();
    TVEPInterface vep(*Loop, TFakeVep::Functions());
    vep.HandleUpgradeProgress = HandleUpgradeProgress;
    TVEPProgressEvent started{upStarted, 20000};
    TFakeVep::Callback(vepUpgradeProgress, &started);
    QVERIFY(!Form->Progress->isHidden());
    QCOMPARE(Form->Progress->maximum(), 20000);
    TVEPProgressEvent moved{upProgress, 1500};
    TFakeVep::Callback(vepUpgradeProgress, &moved);
    QCOMPARE(Form->Progress->value(), 1500);
    TVEPProgressEvent ended{upEnded, 0};
    TFakeVep::Callback(vepUpgradeProgress, &ended);
    QCOMPARE(Form->Progress->value(), 1500);
    HandleUpgradeProgress(vepMessage, moved);
    QCOMPARE(Form->Progress->value(), 1500);
  }

  void theFileChooserFillsTheFileNameAndKeepsItWhenCancelled() {
    QCOMPARE(Form->OpenDialog->windowTitle(), QString("Choose the Upgrade File"));
    QCOMPARE(Form->OpenDialog->nameFilters(), QStringList({"Upgrade Files (*.bin)", "All Files (*)"}));
    QCOMPARE(Form->OpenDialog->defaultSuffix(), QString("bin"));
    QTemporaryDir folder;
    const QString chosen = folder.filePath("firmware.bin");
    QFile file(chosen);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    WhenModal(Form->OpenDialog, [&] {
      Form->OpenDialog->selectFile(chosen);
      static_cast<QDialog*>(Form->OpenDialog)->accept();
    });
    QTest::mouseClick(Form->ChooseButton, Qt::LeftButton);
    QCOMPARE(Form->FileName->text(), chosen);
    WhenModal(Form->OpenDialog, [&] { Form->OpenDialog->reject(); });
    QTest::mouseClick(Form->ChooseButton, Qt::LeftButton);
    QCOMPARE(Form->FileName->text(), chosen);
  }

  void layoutTextsAndAccessibleNames() {
    QCOMPARE(Form->windowTitle(), QString("Flash Upgrade"));
    QCOMPARE(Form->size(), QSize(438, 133));
    QCOMPARE(Form->IPAddress->text(), QString("   .   .   .   "));
    QCOMPARE(Form->UpgradeButton->text(), QString("Upgrade"));
    QVERIFY(Form->UpgradeButton->isDefault());
    QCOMPARE(Form->Upgrade->statusTip(), QString("Start the upgrade process"));
    QVERIFY(Form->Progress->isHidden());
    QCOMPARE(Form->IPAddress->accessibleName(), QString("IP Address"));
    QCOMPARE(Form->FileName->accessibleName(), QString("Upgrade Filename"));
    for (QWidget* control : Form->findChildren<QWidget*>()) {
      if (control->window() != Form) continue;  // the file chooser's own widgets
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(),
               qPrintable(control->metaObject()->className()));
    }
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::UpgradeTest)
#include "Upgrade_test.moc"
