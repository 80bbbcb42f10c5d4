#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTest>
#include <QTimer>

#include <tuple>
#include <vector>
#include <QtTest/qtestspontaneevent.h>

#include "appmodel/DebugMode.h"
#include "protocol/VEP.h"
#include "tests/hostnet/MadeUpNeighbourTable.h"
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
  TSeenBox Seen;
  test::TMadeUpNeighbourTable* Neighbours = nullptr;

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
    Form = new TIPConfigForm(*Vep, *Wait, *Loop);
    Form->DeviceID = "00:0A:1B:2C:3D:4E";
    Log = new TLogForm;
    Seen = TSeenBox();
    Neighbours = new test::TMadeUpNeighbourTable;
  }
  void cleanup() {
    delete Neighbours;
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

  // The fields show only what the configured device told: another device that does not
  // answer opens with the untouched fields, and Enter then sends nothing; the first device,
  // silent now, shows its own last reply.
  void theFieldsNeverShowAnotherDevicesSettings() {
    Open([&] { TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", false); },
         [&] { Escape(); });
    Form->DeviceID = "00:0A:1B:2C:3D:4F";
    QString shown;
    bool automatic = false;
    TSeenBox seen;
    Open([&] { NoReply(); },
         [&] {
           shown = Form->IPAddress->text() + Form->SubnetMask->text() + Form->DefaultGateway->text();
           automatic = Form->AddrAuto->isChecked();
           AnswerNextBoxOk(seen);
           QTest::keyClick(Form->IPAddress, Qt::Key_Return);
           Escape();
         });
    QCOMPARE(shown, QString("   .   .   .   ").repeated(3));
    QVERIFY(automatic);
    QCOMPARE(seen.Text, QString("IP address must be entered."));
    QVERIFY(TFakeVep::SetIPs.empty());

    Form->DeviceID = TFakeVep::kDeviceID;
    Open([&] { NoReply(); },
         [&] {
           shown = Form->IPAddress->text();
           Escape();
         });
    QCOMPARE(shown, QString("10 .0  .0  .7  "));
    QVERIFY(Form->AddrStatic->isChecked());
    QCOMPARE(TFakeVep::GetIPs.size(), std::size_t{3});
  }

  // A typo, a leftover partly filled field or an untouched mask never reaches the device: the
  // dialog says what is wrong and stays open.
  void settingsThatCannotBeSentAreNamedAndNothingIsSent() {
    const std::tuple<QString, QString, QString> cases[] = {
        {"10.77.1.299", "255.255.255.0",
         "IP address 10.77.1.299 is not a complete address (four numbers from 0 to 255)."},
        {"10.77.1", "255.255.255.0",
         "IP address 10.77.1. is not a complete address (four numbers from 0 to 255)."},
        {"10.77.1.9", "", "Subnet mask is empty."},
        {"10.77.1.0", "255.255.255.0",
         "10.77.1.0 is the network address of its subnet (mask 255.255.255.0)."}};
    for (const auto& [address, mask, message] : cases) {
      TSeenBox seen;
      bool stayedOpen = false;
      Open([&] { NoReply(); },
           [&] {
             QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
             for (TMaskedAddressEdit* field : {Form->IPAddress, Form->SubnetMask})
               field->SetAddressText({});
             TypeInto(Form->IPAddress, address);
             if (!mask.isEmpty()) TypeInto(Form->SubnetMask, mask);
             AnswerNextBoxOk(seen);
             QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
             stayedOpen = Form->isVisible();
             Escape();
           });
      QVERIFY(stayedOpen);
      QCOMPARE(seen.Text, message);
      QCOMPARE(seen.Icon, QMessageBox::Critical);
      QCOMPARE(seen.Caption, QCoreApplication::applicationName());
    }
    QVERIFY(TFakeVep::SetIPs.empty());
  }

  // An address that a listed device holds goes only when the user says so.
  void anAddressInUseIsSentOnlyWhenTheUserConfirmsIt() {
    TDeviceInfo holder;
    holder.ID = "00:0A:1B:2C:3D:99";
    holder.IPAddress = "10.0.0.9";
    Form->ListedDevices = [holder] { return std::vector<TDeviceInfo>{holder}; };
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
      QString question;
      Open([&] { NoReply(); },
           [&] {
             QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
             TypeInto(Form->IPAddress, "10.0.0.9");
             TypeInto(Form->SubnetMask, "255.255.255.0");
             WhenBoxOpens([&](QMessageBox& box) {
               question = box.text();
               box.button(answer)->click();
             });
             if (answer == QMessageBox::Yes) WhenModal(Wait, [] { TFakeVep::AcknowledgeIPSet(); });
             QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
             if (answer == QMessageBox::No) {
               QTRY_VERIFY(!question.isEmpty());
               Escape();
             }
           });
      QCOMPARE(question, QString("10.0.0.9 is already in use by device 00:0A:1B:2C:3D:99 (it "
                                 "answered the scan from there).\n\nSend it to the device all "
                                 "the same?"));
      QCOMPARE(TFakeVep::SetIPs.size(), std::size_t(answer == QMessageBox::Yes ? 1 : 0));
    }
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
                              WhenModal(Wait, [] { TFakeVep::AcknowledgeIPSet(); });
                              QTest::keyClick(Form->IPAddress, Qt::Key_Return);  // Enter: Apply
                            });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
    const TSentSetIP& sent = TFakeVep::SetIPs[0];
    QCOMPARE(sent.ID, DeviceNodeID());
    QCOMPARE(sent.Address, std::string("10.1.2.3"));
    QCOMPARE(sent.Mask, std::string("255.255.255.0"));
    QCOMPARE(sent.Gateway, std::string("0.0.0.0"));  // an untouched gateway: none
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
                              TypeInto(Form->SubnetMask, "255.255.255.0");
                              WhenModal(Wait, [&] {
                                AnswerNextBoxOk(seen);
                                Loop->Advance(3000);
                              });
                              QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
                              QTRY_COMPARE(seen.Count, 1);  // the address is checked first
                              stayedOpen = Form->isVisible();
                              Escape();
                            });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(stayedOpen);
    QCOMPARE(seen.Text, QString("Communication Failed"));
    QCOMPARE(Form->IPAddress->text(), QString("10 .0  .0  .9  "));
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
  }

  // While Apply waits, only this device's set-IP acknowledgement ends the wait: neither its
  // late get-IP reply nor the acknowledgement of Auto IP's set-IP to another device; those fill
  // no field either. A device that never acknowledges leaves the dialog open.
  void onlyThisDevicesAcknowledgementEndsTheApplyWait() {
    QString shown;
    bool waitEnded = false;
    const int result = Open([&] { NoReply(); },
                            [&] {
                              QTest::mouseClick(Form->AddrStatic, Qt::LeftButton);
                              TypeInto(Form->IPAddress, "10.0.0.9");
                              TypeInto(Form->SubnetMask, "255.255.255.0");
                              WhenModal(Wait, [&] {
                                TFakeVep::ReplyIPConfig("10.0.0.7", "255.0.0.0", "10.0.0.1", true);
                                TFakeVep::AcknowledgeIPSet("00:0A:1B:2C:3D:99");
                                TFakeVep::ReplyIPConfig("10.9.9.9", "255.0.0.0", "", false,
                                                        "00:0A:1B:2C:3D:99");
                                Loop->Advance(1000);
                                waitEnded = !Wait->isVisible();
                                shown = Form->IPAddress->text();
                                AnswerNextBoxOk(Seen);
                                Loop->Advance(2000);
                              });
                              QTest::mouseClick(Form->ApplyButton, Qt::LeftButton);
                              QTRY_COMPARE(Seen.Count, 1);
                              Escape();
                            });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!waitEnded);
    QCOMPARE(shown, QString("10 .0  .0  .9  "));
    QCOMPARE(Seen.Text, QString("Communication Failed"));
    QCOMPARE(TFakeVep::SetIPs.size(), std::size_t{1});
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
