#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTest>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include "appmodel/DebugMode.h"
#include "protocol/VEP.h"
#include "tests/ui/FakeVep.h"
#include "tests/ui/UiTest.h"
#include "ui/Devicecomm.h"
#include "ui/Ipconfig.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"

namespace scoutor {

class IpconfigTest : public QObject {
  Q_OBJECT

  TManualClock Clock;
  TQtEventLoop* Loop = nullptr;
  TVEPInterface* Vep = nullptr;
  TDeviceCommForm* Wait = nullptr;
  TIPConfigForm* Form = nullptr;
  TLogForm* Log = nullptr;

  // Opens the dialog; `duringGetIP` runs inside the get-IP wait, `thenInput` once the dialog
  // takes input. Returns the dialog's result.
  int Open(std::function<void()> duringGetIP, std::function<void()> thenInput) {
    InModalLoop([this, duringGetIP, thenInput] {
      duringGetIP();
      WhenModal(Form, [thenInput] { thenInput(); });
    });
    return Form->exec();
  }
  void NoReply() { QTest::keyClick(Wait, Qt::Key_Escape); }
  void Escape() { QTest::keyClick(Form, Qt::Key_Escape); }
  void TypeInto(TMaskedAddressEdit* field, const QString& keys) {
    field->setFocus();
    field->setCursorPosition(0);
    QTest::keyClicks(field, keys);
  }
  TVEPNodeID DeviceNodeID() const {
    TVEPNodeID id{};
    VEPMacToID("00:0A:1B:2C:3D:4E", id.data());
    return id;
  }

 private slots:
  void init() {
    TFakeVep::Reset();
    SetDebugMode(true);
    Loop = new TQtEventLoop(Clock);
    Vep = new TVEPInterface(*Loop, TFakeVep::Functions());
    Wait = new TDeviceCommForm(*Loop);
    Form = new TIPConfigForm(*Vep, *Wait);
    Form->DeviceID = "00:0A:1B:2C:3D:4E";
    Log = new TLogForm;
  }
  void cleanup() {
    delete Log;
    delete Form;
    delete Wait;
    delete Vep;
    delete Loop;
    SetDebugMode(false);
  }

  void aDhcpReplyChecksAutomaticAndGreysTheFieldsKeepingTheirText() {
    bool waitEndedWithReply = false;
    bool fieldsEnabled = true;
    const int result = Open(
        [&] {
          Loop->Advance(1000);
          TFakeVep::ReplyIPConfig("0.0.0.0", "255.255.255.0", "192.168.1.1", true);
        },
        [&] {
          waitEndedWithReply = Wait->result() == QDialog::Accepted;
          fieldsEnabled = Form->IPAddress->isEnabled() || Form->SubnetMask->isEnabled() ||
                          Form->DefaultGateway->isEnabled();
          Escape();
        });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(waitEndedWithReply);
    QVERIFY(!fieldsEnabled);
    QVERIFY(Form->AddrAuto->isChecked());
    QCOMPARE(Form->IPAddress->text(), QString("0  .0  .0  .0  "));
    QCOMPARE(Form->SubnetMask->text(), QString("255.255.255.0  "));
    QCOMPARE(Form->DefaultGateway->text(), QString("192.168.1  .1  "));
    QCOMPARE(TFakeVep::GetIPs, std::vector<TVEPNodeID>{DeviceNodeID()});
    QVERIFY(TFakeVep::SetIPs.empty());
    QCOMPARE(Log->LogList()->item(Log->LogList()->count() - 1)->text(), QString("Got IP"));
  }

  void aStaticReplyChecksTheStaticChoiceWithTheFieldsEnabled() {
    bool fieldsEnabled = false;
    Open([&] { TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", false); },
         [&] {
           fieldsEnabled = Form->IPAddress->isEnabled() && Form->DefaultGateway->isEnabled();
           Escape();
         });
    QVERIFY(Form->AddrStatic->isChecked());
    QVERIFY(fieldsEnabled);
    QCOMPARE(Form->IPAddress->text(), QString("10 .0  .0  .7  "));
  }

  void aGetIPReplyAfterTheWaitHasEndedFillsTheHiddenDialog() {
    TSeenBox seen;
    Open(
        [&] {
          AnswerNextBoxOk(seen);
          Loop->Advance(3000);
        },
        [&] { Escape(); });
    QCOMPARE(seen.Text, QString("Communication Failed"));
    QVERIFY(!Form->isVisible());
    QCOMPARE(Form->IPAddress->text(), QString("   .   .   .   "));
    TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", false);
    QCOMPARE(Form->IPAddress->text(), QString("10 .0  .0  .7  "));
    QVERIFY(Form->AddrStatic->isChecked());
  }

  void openingForADeviceThatDoesNotAnswerShowsTheLastValues() {
    Open([&] { TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", false); },
         [&] { Escape(); });
    Form->DeviceID = "00:0A:1B:2C:3D:4F";
    QString shown;
    Open([&] { NoReply(); },
         [&] {
           shown = Form->IPAddress->text();
           Escape();
         });
    QCOMPARE(shown, QString("10 .0  .0  .7  "));
    QCOMPARE(TFakeVep::GetIPs.size(), std::size_t{2});
  }

  void applyWithAnUntouchedAddressSaysSoAndSendsNothing() {
    TSeenBox seen;
    bool stayedOpen = false;
    Open([&] { NoReply(); },
         [&] {
           AnswerNextBoxOk(seen);
           QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
           stayedOpen = Form->isVisible();
           Escape();
         });
    QVERIFY(stayedOpen);
    QCOMPARE(seen.Count, 1);
    QCOMPARE(seen.Text, QString("IP address must be entered."));
    QCOMPARE(seen.Icon, QMessageBox::Critical);
    QCOMPARE(seen.Caption, QCoreApplication::applicationName());
    QCOMPARE(seen.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(TFakeVep::SetIPs.empty());
  }

  void leadingZerosTypedReachTheWireAsTheirDecimalValue() {
    const int result = Open([&] { NoReply(); },
                            [&] {
                              QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
                              TypeInto(Form->IPAddress, "010.001.002.003");
                              TypeInto(Form->SubnetMask, "255.255.255.000");
                              InModalLoop([&] { TFakeVep::AcknowledgeIPSet(); });
                              QTest::keyClick(Form->IPAddress, Qt::Key_Return);  // Enter: Apply
                            });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
    const TSentSetIP& sent = TFakeVep::SetIPs[0];
    QCOMPARE(sent.ID, DeviceNodeID());
    QCOMPARE(sent.Address, std::string("10.1.2.3"));
    QCOMPARE(sent.Mask, std::string("255.255.255.0"));
    QCOMPARE(sent.Gateway, std::string("..."));
    QVERIFY(!sent.DHCP);
  }

  void switchingBackToAutomaticSendsDhcpWithTheTypedAddress() {
    Open([&] { NoReply(); },
         [&] {
           QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
           TypeInto(Form->IPAddress, "10.0.0.9");
           QTest::mouseClick(Form->AddrAuto, Qt::LeftButton);
           InModalLoop([&] { TFakeVep::AcknowledgeIPSet(); });
           QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
         });
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
    QCOMPARE(TFakeVep::SetIPs[0].Address, std::string("10.0.0.9"));
    QVERIFY(TFakeVep::SetIPs[0].DHCP);
  }

  void applyWithoutAConfirmationKeepsTheDialogOpenWithTheInput() {
    bool stayedOpen = false;
    TSeenBox seen;
    const int result = Open([&] { NoReply(); },
                            [&] {
                              QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
                              TypeInto(Form->IPAddress, "10.0.0.9");
                              InModalLoop([&] {
                                AnswerNextBoxOk(seen);
                                Loop->Advance(3000);
                              });
                              QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
                              stayedOpen = Form->isVisible();
                              Escape();
                            });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(stayedOpen);
    QCOMPARE(seen.Text, QString("Communication Failed"));
    QCOMPARE(Form->IPAddress->text(), QString("10 .0  .0  .9  "));
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
  }

  void aLateGetIPReplyDuringTheApplyWaitEndsItWithOk() {
    const int result = Open([&] { NoReply(); },
                            [&] {
                              QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
                              TypeInto(Form->IPAddress, "10.0.0.9");
                              InModalLoop([&] {
                                TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", true);
                              });
                              QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
                            });
    QCOMPARE(result, int(QDialog::Accepted));
  }

  // Editing keys, undo and paste keep the field whole; Enter on the focused Cancel presses
  // Cancel, not the default Apply.
  void theKeyboardKeepsAFieldWholeAndEnterOnCancelSendsNothing() {
    QString typed;
    QApplication::clipboard()->setText("192.168.7.7");
    const int result = Open([&] { NoReply(); },
                            [&] {
                              QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
                              TypeInto(Form->IPAddress, "10.0.0.9");
                              for (const QKeySequence& key :
                                   {QKeySequence(Qt::CTRL | Qt::Key_K), QKeySequence(Qt::CTRL | Qt::Key_U),
                                    QKeySequence(QKeySequence::Undo),
                                    QKeySequence(QKeySequence::DeleteStartOfWord),
                                    QKeySequence(QKeySequence::Paste)})
                                QTest::keySequence(Form->IPAddress, key);
                              QTest::keyClicks(Form->IPAddress, "5");
                              typed = Form->IPAddress->text();
                              Form->CancelButton->setFocus();
                              QTimer endApplyWait;  // should Enter run Apply, its wait ends
                              connect(&endApplyWait, &QTimer::timeout, [this] {
                                if (QApplication::activeModalWidget() == Wait) NoReply();
                              });
                              endApplyWait.setSingleShot(true);
                              endApplyWait.start(0);
                              QTest::keyClick(Form->CancelButton, Qt::Key_Return);
                              if (Form->isVisible()) Escape();
                            });
    QCOMPARE(typed, QString("592.168.7  .7  "));
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(TFakeVep::SetIPs.empty());
  }

  // A window restored from minimised gets a spontaneous show event: no second get-IP, no wait.
  void aShowingRestoredFromMinimisedAsksNothing() {
    bool waitShown = true;
    Open([&] { TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", false); },
         [&] {
           QTimer endWait;
           connect(&endWait, &QTimer::timeout, [this, &waitShown] {
             waitShown = QApplication::activeModalWidget() == Wait;
             if (waitShown) NoReply();
           });
           endWait.setSingleShot(true);
           endWait.start(0);
           QShowEvent restored;
           QSpontaneKeyEvent::setSpontaneous(&restored);
           QApplication::instance()->notify(Form, &restored);
           QTest::qWait(0);
           Escape();
         });
    QVERIFY(!waitShown);
    QCOMPARE(TFakeVep::GetIPs.size(), std::size_t{1});
  }

  void everyControlHasAnAccessibleNameAndTheLayoutIsAsDesigned() {
    QCOMPARE(Form->windowTitle(), QString("IP Address Properties"));
    QCOMPARE(Form->size(), QSize(447, 192));
    QCOMPARE(Form->IPAddress->accessibleName(), QString("IP address:"));
    QCOMPARE(Form->SubnetMask->accessibleName(), QString("Subnet mask:"));
    QCOMPARE(Form->DefaultGateway->accessibleName(), QString("Default gateway:"));
    QVERIFY(Form->ApplyButton->isDefault());
    QVERIFY(Form->CancelButton->x() < Form->ApplyButton->x());
    for (QWidget* control : Form->findChildren<QWidget*>()) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
      QVERIFY2(accessible && !accessible->text(QAccessible::Name).isEmpty(),
               qPrintable(control->metaObject()->className()));
    }
  }
};

}  // namespace scoutor

QTEST_MAIN(scoutor::IpconfigTest)
#include "Ipconfig_test.moc"
