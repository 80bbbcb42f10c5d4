// The main window through its real widgets, with a manual clock behind its timers and fakes
// for the engine, the reachability checks, the address chooser, the dialogs and the browser.
#include <QAbstractItemModel>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QtTest>

#include <clocale>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/hostnet/MadeUpNeighbourTable.h"
#include "tests/ui/UiTest.h"
#include "ui/Devices.h"
#include "ui/QtEventLoop.h"
#include "ui/UrlOpener.h"

namespace scoutor {
namespace {

// What the window asked of the engine.
struct TEngineCalls {
  int Discovers = 0;
  std::vector<std::string> SetIPs;  // "last ID byte address mask gateway dhcp"
};
TEngineCalls* Engine = nullptr;

TVEPFunctions RecordingEngine() {
  return {
      [](TVEPApplicationCallback, unsigned char) {},
      [] { ++Engine->Discovers; },
      [](const unsigned char*) {},
      [](const unsigned char* id, const char* address, const char* mask, const char* gateway,
         unsigned char dhcp) {
        char last[8];
        std::snprintf(last, sizeof last, "%02X", id[7]);
        Engine->SetIPs.push_back(std::string(last) + " " + address + " " + mask + " " + gateway +
                                 " " + std::to_string(dhcp));
      },
  };
}

struct TPendingCheck {
  TCheckId Id;
  std::string Address;
  TCheckDone Done;
};

// The seams, recording what the window asked for; the test ends checks and choices itself.
struct TFakeDesktop {
  std::vector<TPendingCheck> Checks;
  std::vector<TCheckId> Cancelled;
  TCheckId NextId = 1;
  std::vector<std::string> Choices;  // local addresses
  std::function<void(const TAddressChoice&)> ChoiceDone;
  std::vector<std::string> Configured;
  bool ConfigureAnswer = false;
  std::vector<std::string> Upgraded;
  int AboutShown = 0;
  std::vector<std::string> Urls;
  std::function<void()> UrlFailed;  // the last launch's failure report, for the test to give
  bool RealOpener = false;          // the desktop's opener, as the program runs it

  TDeviceFormSeams Seams() {
    TDeviceFormSeams seams;
    seams.CheckReachable = [this](const std::string& address, TCheckDone done) {
      Checks.push_back({NextId, address, std::move(done)});
      return NextId++;
    };
    seams.CancelCheck = [this](TCheckId id) {
      Cancelled.push_back(id);
      std::erase_if(Checks, [id](const TPendingCheck& check) { return check.Id == id; });
    };
    seams.ChooseAddress = [this](const std::string& local, auto done) {
      Choices.push_back(local);
      ChoiceDone = std::move(done);
    };
    seams.ConfigureDevice = [this](const std::string& id) {
      Configured.push_back(id);
      return ConfigureAnswer;
    };
    seams.UpgradeDevice = [this](const std::string& address) { Upgraded.push_back(address); };
    seams.ShowAbout = [this] { ++AboutShown; };
    seams.OpenUrl = [this](const std::string& url, std::function<void()> failed) {
      Urls.push_back(url);
      if (RealOpener)
        OpenInBrowser(url, std::move(failed));
      else
        UrlFailed = std::move(failed);
    };
    return seams;
  }

  // Ends the oldest running check of `address`.
  void End(const std::string& address, TReachability outcome) {
    for (auto check = Checks.begin(); check != Checks.end(); ++check) {
      if (check->Address != address) continue;
      const TCheckDone done = std::move(check->Done);
      Checks.erase(check);
      done({address, outcome, outcome == TReachability::Failed ? "no ICMP socket" : ""});
      return;
    }
    QFAIL(("no check of " + address).c_str());
  }
};

struct TDevice {
  const char* Name;
  const char* ID;
  const char* IPAddress;
  const char* Interface = "10.0.0.1";
  const char* Type = "Bridge";
};

}  // namespace

class DeviceFormTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void aScanWithoutDevicesLeavesAnEmptyListAndOnlyTheGeneralActions();
  void aDeviceHeardManyTimesGivesOneRowFromItsFirstReply();
  void rowsAreSortedByNameLocaleAwareAndSameNamesStandTogether();
  void aRowAppearsWhenItsCheckEndsWithItsFinalIconAndStaysUnchanged();
  void theSelectionIsKeptAcrossAScanWhenItsDeviceAnswers();
  void withoutTheEarlierDeviceTheFirstRowAddedIsSelected();
  void aNewScanDropsTheChecksOfTheLastOne();
  void rowsOfManyChecksEndingAtOnceFollowOverTheNextTurnsOfTheLoop();
  void theLegendAppearsWithTheFirstSignAndHidesAtEveryScan();
  void autoIPIsEnabledOnlyOnARowWithTheSign();
  void autoIPGivesTheChosenAddressToTheDeviceSelectedWhenItBegan();
  void autoIPRefusesAnAddressAListedDeviceHoldsOrSettingsThatCannotWork();
  void aFailedAutoIPChoiceDoesNothing();
  void ctrlSDuringAScanStartsItOver();
  void configureCancelLeavesTheListAndOkRefillsIt();
  void upgradeFillsInTheSelectedAddressAndUpgradeAnyAnEmptyOne();
  void webOpensTheDevicePageAndSaysSoWhenTheBrowserFails();
  void theDesktopOpenerFailingOrMissingIsReported();
  void everyToolBarCommandHasAKeyAndEnterInTheListOpensThePage();
  void doubleClickWithoutASelectionDoesNothing();
  void theMenusAndToolBarCarryTheirCommands();
  void assistiveTechnologyHearsNamesAndTheSign();
  void hintsGoToTheStatusBarAndNoToolTipShows();

 private:
  void Reply(const TDevice& device);
  void ListedReachable(const TDevice& device, TReachability outcome = TReachability::Reachable);
  QStringList Column(int column) const;
  QString SelectedID() const;
  void Select(int row);
  QAction* Action(const char* name) const { return Form->findChild<QAction*>(name); }
  QTreeWidget* List() const { return Form->findChild<QTreeWidget*>("DeviceList"); }
  QProgressBar* Bar() const { return Form->findChild<QProgressBar*>("Progress"); }
  QLabel* Legend() const { return Form->findChild<QLabel*>("ProblemLabel"); }

  std::unique_ptr<TManualClock> Clock;
  std::unique_ptr<TQtEventLoop> Loop;
  std::unique_ptr<TEngineCalls> Calls;
  std::unique_ptr<TFakeDesktop> Desktop;
  std::unique_ptr<TDeviceForm> Form;
};

namespace {
const TDevice kBridge{"AP-1", "02:00:00:00:00:07", "10.0.0.7"};
const TDevice kCamera{"Cam-2", "02:00:00:00:00:08", "10.0.0.8", "10.0.0.1", "Camera"};
const TDevice kFar{"Far-3", "02:00:00:00:00:33", "192.168.77.7", "10.0.0.1", "Sensor"};
}  // namespace

void DeviceFormTest::init() {
  Clock = std::make_unique<TManualClock>();
  Loop = std::make_unique<TQtEventLoop>(*Clock);
  Calls = std::make_unique<TEngineCalls>();
  Engine = Calls.get();
  Desktop = std::make_unique<TFakeDesktop>();
  QApplication::setApplicationName("scoutor");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  Form = std::make_unique<TDeviceForm>(Desktop->Seams(), *Loop, RecordingEngine());
  Form->show();
  QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
}

void DeviceFormTest::cleanup() {
  Form.reset();
  Engine = nullptr;
}

void DeviceFormTest::Reply(const TDevice& device) {
  TVEPDeviceEvent event{device.ID, device.Interface, device.IPAddress, device.Name, device.Type};
  TVEPInterface::HandleEngineEvent(vepDeviceFound, &event);
}

void DeviceFormTest::ListedReachable(const TDevice& device, TReachability outcome) {
  Reply(device);
  Desktop->End(device.IPAddress, outcome);
}

QStringList DeviceFormTest::Column(int column) const {
  QStringList texts;
  for (int row = 0; row < List()->topLevelItemCount(); ++row)
    texts << List()->topLevelItem(row)->text(column);
  return texts;
}

QString DeviceFormTest::SelectedID() const {
  const auto selected = List()->selectedItems();
  return selected.size() == 1 ? selected.front()->text(3) : QString();
}

void DeviceFormTest::Select(int row) {
  const QRect place = List()->visualItemRect(List()->topLevelItem(row));
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, place.center());
}

void DeviceFormTest::aScanWithoutDevicesLeavesAnEmptyListAndOnlyTheGeneralActions() {
  QCOMPARE(Calls->Discovers, 1);  // the first showing scans
  QVERIFY(Bar()->isVisible());
  Loop->Advance(1999);
  QVERIFY(Bar()->isVisible());
  QCOMPARE(Bar()->value(), 15);
  Loop->Advance(1);
  QVERIFY(!Bar()->isVisible());
  Loop->Advance(1000);
  QCOMPARE(Calls->Discovers, 5);
  QCOMPARE(List()->topLevelItemCount(), 0);
  for (const char* rowAction : {"SetIPConfig", "DoUpgrade", "Webserver", "AutoSetIP"})
    QVERIFY2(!Action(rowAction)->isEnabled(), rowAction);
  for (const char* general : {"Scan", "UpgradeAny", "About", "Exit"})
    QVERIFY2(Action(general)->isEnabled(), general);
}

void DeviceFormTest::aDeviceHeardManyTimesGivesOneRowFromItsFirstReply() {
  const TDevice secondAdapter{kBridge.Name, kBridge.ID, "10.1.0.7", "10.1.0.1"};
  for (int broadcast = 0; broadcast < 5; ++broadcast) {
    Reply(kBridge);
    Reply(secondAdapter);
    Loop->Advance(500);
  }
  QCOMPARE(Desktop->Checks.size(), 1u);  // a device whose check runs counts as listed
  Desktop->End(kBridge.IPAddress, TReachability::Reachable);
  Reply(secondAdapter);
  QCOMPARE(Column(3), QStringList{kBridge.ID});
  QCOMPARE(Column(2), QStringList{"10.0.0.7"});
  QCOMPARE(Column(4), QStringList{"10.0.0.1"});
  QVERIFY(Desktop->Checks.empty());
}

void DeviceFormTest::rowsAreSortedByNameLocaleAwareAndSameNamesStandTogether() {
  // Names are ordered by the user's collation, as vepctl orders them.
  const std::string previous = setlocale(LC_COLLATE, nullptr);
  if (setlocale(LC_COLLATE, "en_US.UTF-8") == nullptr)
    QSKIP("needs the en_US.UTF-8 locale (localedef -i en_US -f UTF-8 en_US.UTF-8)");
  const auto restore = qScopeGuard([&previous] { setlocale(LC_COLLATE, previous.c_str()); });
  ListedReachable({"Zeta", "02:00:00:00:00:01", "10.0.0.11"});
  ListedReachable({"cam", "02:00:00:00:00:02", "10.0.0.12"});
  ListedReachable({"alpha", "02:00:00:00:00:03", "10.0.0.13"});
  ListedReachable({"cam", "02:00:00:00:00:04", "10.0.0.14"});
  // In byte order "Zeta" would come first; here it follows the lower-case names.
  const QStringList names = Column(0);
  QCOMPARE(names.size(), 4);
  QCOMPARE(names.front(), QString("alpha"));
  QCOMPARE(names.back(), QString("Zeta"));
  QCOMPARE(Column(3).mid(1, 2), (QStringList{"02:00:00:00:00:02", "02:00:00:00:00:04"}));
  // The header does not re-sort.
  QTest::mouseClick(List()->header()->viewport(), Qt::LeftButton, {},
                    QPoint(List()->header()->sectionPosition(2) + 5, 5));
  QCOMPARE(Column(0), names);
}

void DeviceFormTest::aRowAppearsWhenItsCheckEndsWithItsFinalIconAndStaysUnchanged() {
  Reply(kFar);
  Reply(kBridge);
  QCOMPARE(List()->topLevelItemCount(), 0);
  Desktop->End(kBridge.IPAddress, TReachability::Reachable);
  QCOMPARE(Column(0), QStringList{"AP-1"});
  Desktop->End(kFar.IPAddress, TReachability::NotReachable);
  ListedReachable(kCamera, TReachability::Failed);  // a check that could not be made
  QCOMPARE(Column(0), (QStringList{"AP-1", "Cam-2", "Far-3"}));
  const auto signOf = [this](int row) {
    return List()->topLevelItem(row)->data(0, Qt::AccessibleDescriptionRole).toString();
  };
  QCOMPARE(signOf(0), QString());
  QCOMPARE(signOf(1), QString("device is not reachable"));
  QCOMPARE(signOf(2), QString("device is not reachable"));
  // A later reply with other texts changes nothing.
  Reply({"Renamed", kFar.ID, "10.0.0.99"});
  QCOMPARE(Column(0), (QStringList{"AP-1", "Cam-2", "Far-3"}));
  QCOMPARE(Column(2), (QStringList{"10.0.0.7", "10.0.0.8", "192.168.77.7"}));
}

void DeviceFormTest::theSelectionIsKeptAcrossAScanWhenItsDeviceAnswers() {
  ListedReachable(kBridge);
  ListedReachable(kCamera);
  QCOMPARE(SelectedID(), QString(kBridge.ID));  // the first row added
  Select(1);
  QCOMPARE(SelectedID(), QString(kCamera.ID));
  Action("Scan")->trigger();
  QCOMPARE(List()->topLevelItemCount(), 0);
  ListedReachable(kBridge);
  QCOMPARE(SelectedID(), QString(kBridge.ID));
  ListedReachable(kCamera);
  QCOMPARE(SelectedID(), QString(kCamera.ID));
}

void DeviceFormTest::withoutTheEarlierDeviceTheFirstRowAddedIsSelected() {
  ListedReachable(kCamera);
  Action("Scan")->trigger();
  ListedReachable(kFar, TReachability::NotReachable);
  ListedReachable(kBridge);
  QCOMPARE(SelectedID(), QString(kFar.ID));
}

void DeviceFormTest::aNewScanDropsTheChecksOfTheLastOne() {
  Reply(kBridge);
  Action("Scan")->trigger();
  QCOMPARE(Desktop->Cancelled.size(), 1u);
  QVERIFY(Desktop->Checks.empty());
  ListedReachable(kBridge);  // heard again: checked again
  QCOMPARE(Column(3), QStringList{kBridge.ID});
}

void DeviceFormTest::rowsOfManyChecksEndingAtOnceFollowOverTheNextTurnsOfTheLoop() {
  std::vector<std::string> ids, addresses, names;
  for (int device = 0; device < 100; ++device) {
    char id[18];
    std::snprintf(id, sizeof id, "02:00:00:00:01:%02X", device);
    ids.push_back(id);
    addresses.push_back("10.0.1." + std::to_string(device + 1));
    names.push_back("SIM-" + std::to_string(100 - device));
    Reply({names.back().c_str(), ids.back().c_str(), addresses.back().c_str()});
  }
  const auto endAll = [this, &addresses] {
    for (const std::string& address : addresses) Desktop->End(address, TReachability::Reachable);
  };
  endAll();
  const int listedAtOnce = List()->topLevelItemCount();
  QVERIFY(listedAtOnce > 0);
  QVERIFY(listedAtOnce < 100);
  Loop->Advance(0);
  QCOMPARE(List()->topLevelItemCount(), 100);
  QStringList sorted = Column(0);
  for (int row = 1; row < sorted.size(); ++row)
    QVERIFY(std::strcoll(sorted[row - 1].toUtf8(), sorted[row].toUtf8()) <= 0);

  // Rows still waiting when a scan starts belong to the list that is gone.
  Action("Scan")->trigger();
  for (std::size_t device = 0; device < ids.size(); ++device)
    Reply({names[device].c_str(), ids[device].c_str(), addresses[device].c_str()});
  endAll();
  Action("Scan")->trigger();
  Loop->Advance(0);
  QCOMPARE(List()->topLevelItemCount(), 0);
}

void DeviceFormTest::theLegendAppearsWithTheFirstSignAndHidesAtEveryScan() {
  ListedReachable(kBridge);
  QVERIFY(!Legend()->isVisible());
  ListedReachable(kFar, TReachability::NotReachable);
  QVERIFY(Legend()->isVisible());
  QCOMPARE(Legend()->text(), QString("= device is not reachable. Try using Auto IP."));
  QVERIFY(Form->findChild<QLabel*>("ProblemImage")->isVisible());
  Action("Scan")->trigger();
  QVERIFY(!Legend()->isVisible());
}

void DeviceFormTest::autoIPIsEnabledOnlyOnARowWithTheSign() {
  ListedReachable(kBridge);
  ListedReachable(kFar, TReachability::NotReachable);
  QVERIFY(!Action("AutoSetIP")->isEnabled());
  Select(1);
  QVERIFY(Action("AutoSetIP")->isEnabled());
  Select(0);
  QVERIFY(!Action("AutoSetIP")->isEnabled());
}

void DeviceFormTest::autoIPGivesTheChosenAddressToTheDeviceSelectedWhenItBegan() {
  ListedReachable(kFar, TReachability::NotReachable);
  ListedReachable(kBridge);
  Select(1);
  Action("AutoSetIP")->trigger();
  QCOMPARE(Desktop->Choices, std::vector<std::string>{"10.0.0.1"});
  QVERIFY(!Action("AutoSetIP")->isEnabled());  // while the choice runs
  Select(0);                                   // the window stays usable meanwhile
  QVERIFY(!Action("AutoSetIP")->isEnabled());
  const int discoversBefore = Calls->Discovers;
  test::TMadeUpNeighbourTable neighbours;
  Desktop->ChoiceDone({true, "10.0.0.2", "255.255.255.0", "10.0.0.254", ""});
  QVERIFY(Calls->SetIPs.empty());  // the address is checked against the list first
  Loop->Advance(0);
  QCOMPARE(Calls->SetIPs, std::vector<std::string>{"33 10.0.0.2 255.255.255.0 10.0.0.254 0"});
  QCOMPARE(Calls->Discovers, discoversBefore + 1);
  QCOMPARE(List()->topLevelItemCount(), 0);  // the fresh scan shows the result
}

// A choice that another listed device holds, or whose settings cannot work, is refused with
// what is wrong; nothing is sent and no scan starts.
void DeviceFormTest::autoIPRefusesAnAddressAListedDeviceHoldsOrSettingsThatCannotWork() {
  test::TMadeUpNeighbourTable neighbours;
  ListedReachable(kFar, TReachability::NotReachable);
  ListedReachable(kBridge);
  Select(1);
  const int discoversBefore = Calls->Discovers;
  const std::pair<TAddressChoice, QString> cases[] = {
      {{true, kBridge.IPAddress, "255.255.255.0", "10.0.0.254", ""},
       QString("Auto IP found no address it can give the device: %1 is already in use by device "
               "%2 (it answered the scan from there).")
           .arg(kBridge.IPAddress, kBridge.ID)},
      {{true, "10.0.0.255", "255.255.255.0", "10.0.0.254", ""},
       "Auto IP found no address it can give the device: 10.0.0.255 is the broadcast address of "
       "its subnet (mask 255.255.255.0)."}};
  for (const auto& [choice, message] : cases) {
    Action("AutoSetIP")->trigger();
    TSeenBox seen;
    AnswerNextBoxOk(seen);
    Desktop->ChoiceDone(choice);
    Loop->Advance(0);
    QTRY_COMPARE(seen.Count, 1);
    QCOMPARE(seen.Text, message);
    QCOMPARE(seen.Icon, QMessageBox::Critical);
    QVERIFY(Action("AutoSetIP")->isEnabled());
  }
  QVERIFY(Calls->SetIPs.empty());
  QCOMPARE(Calls->Discovers, discoversBefore);
}

void DeviceFormTest::aFailedAutoIPChoiceDoesNothing() {
  ListedReachable(kFar, TReachability::NotReachable);
  Action("AutoSetIP")->trigger();
  const int discoversBefore = Calls->Discovers;
  Desktop->ChoiceDone({false, "", "", "", "no free address"});
  QVERIFY(Calls->SetIPs.empty());
  QCOMPARE(Calls->Discovers, discoversBefore);
  QCOMPARE(Column(3), QStringList{kFar.ID});
  QVERIFY(Action("AutoSetIP")->isEnabled());
}

void DeviceFormTest::ctrlSDuringAScanStartsItOver() {
  QVERIFY(QTest::qWaitForWindowActive(Form.get()));
  ListedReachable(kBridge);
  Loop->Advance(1000);
  QCOMPARE(Bar()->value(), 8);
  QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(List()->topLevelItemCount(), 0);
  QCOMPARE(Bar()->value(), 0);
  QCOMPARE(Calls->Discovers, 4);  // 0, 500 and 1000 ms, then the new start
  Loop->Advance(1999);
  QVERIFY(Bar()->isVisible());
  Loop->Advance(1);
  QVERIFY(!Bar()->isVisible());
}

void DeviceFormTest::configureCancelLeavesTheListAndOkRefillsIt() {
  ListedReachable(kBridge);
  ListedReachable(kCamera);
  Select(1);
  Desktop->ConfigureAnswer = false;
  Action("SetIPConfig")->trigger();
  QCOMPARE(Desktop->Configured, std::vector<std::string>{kCamera.ID});
  QCOMPARE(List()->topLevelItemCount(), 2);
  Desktop->ConfigureAnswer = true;
  Action("SetIPConfig")->trigger();
  QCOMPARE(List()->topLevelItemCount(), 0);
  ListedReachable(kBridge);
  ListedReachable(kCamera);
  QCOMPARE(SelectedID(), QString(kCamera.ID));
}

void DeviceFormTest::upgradeFillsInTheSelectedAddressAndUpgradeAnyAnEmptyOne() {
  ListedReachable(kCamera);
  Action("DoUpgrade")->trigger();
  Action("UpgradeAny")->trigger();
  QCOMPARE(Desktop->Upgraded, (std::vector<std::string>{"10.0.0.8", ""}));
  Action("About")->trigger();
  QCOMPARE(Desktop->AboutShown, 1);
}

void DeviceFormTest::webOpensTheDevicePageAndSaysSoWhenTheBrowserFails() {
  ListedReachable(kBridge);
  Action("Webserver")->trigger();
  QCOMPARE(Desktop->Urls, std::vector<std::string>{"http://10.0.0.7/"});

  TSeenBox seen;
  AnswerNextBoxOk(seen);
  const QRect row = List()->visualItemRect(List()->topLevelItem(0));
  QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, row.center());
  QCOMPARE(Desktop->Urls.size(), 2u);
  QCoreApplication::processEvents();
  QCOMPARE(seen.Count, 0);  // the window goes on while the opener runs
  std::exchange(Desktop->UrlFailed, nullptr)();
  QCOMPARE(seen.Count, 1);
  QCOMPARE(seen.Text, QString("An error occured. Please open http://10.0.0.7/ from your browser."));
  QCOMPARE(seen.Caption, QString("scoutor"));
  QCOMPARE(seen.Icon, QMessageBox::NoIcon);
  QCOMPARE(seen.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(Column(3), QStringList{kBridge.ID});
  QCOMPARE(SelectedID(), QString(kBridge.ID));
}

// The real launch with a stand-in `xdg-open` that exits 1, the only program on PATH; then with
// no opener at all.
void DeviceFormTest::theDesktopOpenerFailingOrMissingIsReported() {
  struct TPathScope {
    QByteArray Saved = qgetenv("PATH");
    ~TPathScope() { qputenv("PATH", Saved); }
  } pathScope;
  QTemporaryDir bin;
  QVERIFY(bin.isValid());
  const QString opened = bin.filePath("opened");
  QFile opener(bin.filePath("xdg-open"));
  QVERIFY(opener.open(QIODevice::WriteOnly));
  opener.write(("#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\nexit 1\n").toUtf8());
  opener.close();
  opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
  qputenv("PATH", bin.path().toLocal8Bit());
  Desktop->RealOpener = true;
  ListedReachable(kBridge);

  TSeenBox seen;
  AnswerNextBoxOk(seen);
  Action("Webserver")->trigger();
  QCOMPARE(seen.Count, 0);
  QTRY_COMPARE(seen.Count, 1);
  QCOMPARE(seen.Text, QString("An error occured. Please open http://10.0.0.7/ from your browser."));
  QFile handedOver(opened);
  QVERIFY(handedOver.open(QIODevice::ReadOnly));
  QCOMPARE(handedOver.readAll(), QByteArray("http://10.0.0.7/"));

  QVERIFY(opener.remove());
  AnswerNextBoxOk(seen);
  Action("Webserver")->trigger();
  QTRY_COMPARE(seen.Count, 2);
  QCOMPARE(seen.Caption, QString("scoutor"));
}

void DeviceFormTest::everyToolBarCommandHasAKeyAndEnterInTheListOpensThePage() {
  QVERIFY(QTest::qWaitForWindowActive(Form.get()));
  ListedReachable(kFar, TReachability::NotReachable);
  QStringList keys;
  for (const QAction* action : Form->findChildren<QAction*>())
    if (!action->shortcut().isEmpty()) keys << action->shortcut().toString();
  QCOMPARE(keys.removeDuplicates(), 0);
  QCOMPARE(Action("SetIPConfig")->shortcut(), QKeySequence("Ctrl+I"));
  QCOMPARE(Action("DoUpgrade")->shortcut(), QKeySequence("Ctrl+U"));
  QCOMPARE(Action("Webserver")->shortcut(), QKeySequence("Ctrl+B"));
  QCOMPARE(Action("AutoSetIP")->shortcut(), QKeySequence("Ctrl+Shift+A"));

  List()->setFocus();
  QTest::keyClick(Form.get(), Qt::Key_I, Qt::ControlModifier);
  QCOMPARE(Desktop->Configured, std::vector<std::string>{kFar.ID});
  QTest::keyClick(Form.get(), Qt::Key_U, Qt::ControlModifier);
  QCOMPARE(Desktop->Upgraded, std::vector<std::string>{kFar.IPAddress});
  QTest::keyClick(Form.get(), Qt::Key_B, Qt::ControlModifier);
  QCOMPARE(Desktop->Urls, std::vector<std::string>{"http://192.168.77.7/"});
  QTest::keyClick(Form.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(Desktop->Choices, std::vector<std::string>{kFar.Interface});

  QTest::keyClick(List(), Qt::Key_Return);
  QTest::keyClick(List(), Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(Desktop->Urls.size(), 3u);
}

void DeviceFormTest::doubleClickWithoutASelectionDoesNothing() {
  QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
  QVERIFY(Desktop->Urls.empty());
}

void DeviceFormTest::theMenusAndToolBarCarryTheirCommands() {
  QCOMPARE(Form->windowTitle(), QString("scoutor"));
  QCOMPARE(Form->size(), QSize(523, 300));
  QCOMPARE(Form->minimumSize(), QSize(300, 200));
  QCOMPARE(Action("Scan")->shortcut(), QKeySequence("Ctrl+S"));
  QCOMPARE(Action("Scan")->statusTip(), QString("Scan for devices"));
  for (const char* edit : {"Undo", "Cut", "Copy", "Paste"})
    QVERIFY2(!Action(edit)->isEnabled(), edit);
  QCOMPARE(Action("Copy")->text(), QString("&Copy"));

  auto* bar = Form->findChild<QToolBar*>("ToolBar");
  QStringList captions;
  for (QAction* action : bar->actions()) {
    captions << action->text();
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    QCOMPARE(button->size(), QSize(52, 36));
    QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(!action->icon().isNull());
  }
  QCOMPARE(captions, (QStringList{"Scan", "Configure", "Upgrade", "Web", "Auto IP"}));
  const QStringList headers = {"Name", "Type", "IP Address", "ID", "Interface"};
  const std::vector<int> widths = {120, 170, 100, 120, 100};
  for (int column = 0; column < 5; ++column) {
    QCOMPARE(List()->headerItem()->text(column), headers[column]);
    QCOMPARE(List()->columnWidth(column), widths[static_cast<std::size_t>(column)]);
  }
  QCOMPARE(Bar()->size(), QSize(177, 8));
  QCOMPARE(Bar()->maximum(), 16);
}

void DeviceFormTest::assistiveTechnologyHearsNamesAndTheSign() {
  ListedReachable(kFar, TReachability::NotReachable);
  for (QWidget* control : Form->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->focusPolicy() == Qt::NoFocus) continue;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QVERIFY(accessible != nullptr);
    QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(), control->metaObject()->className());
  }
  for (QAction* menu : Form->menuBar()->actions()) {
    QVERIFY(!menu->text().isEmpty());
    for (QAction* item : menu->menu()->actions())
      QVERIFY2(item->isSeparator() || !item->text().isEmpty(), qPrintable(menu->text()));
  }
  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(List());
  QCOMPARE(list->text(QAccessible::Name), QString("Devices"));
  bool heard = false;
  for (int child = 0; child < list->childCount(); ++child)
    heard |= list->child(child)->text(QAccessible::Description) == "device is not reachable";
  QVERIFY(heard);
}

void DeviceFormTest::hintsGoToTheStatusBarAndNoToolTipShows() {
  auto* bar = Form->findChild<QToolBar*>("ToolBar");
  QWidget* webButton = bar->widgetForAction(Action("Webserver"));
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(webButton, &enter);
  QCOMPARE(Form->statusBar()->currentMessage(), QString("Load the web configuration interface"));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(webButton, &leave);
  QCOMPARE(Form->statusBar()->currentMessage(), QString());

  const QPoint centre = webButton->rect().center();
  QHelpEvent help(QEvent::ToolTip, centre, webButton->mapToGlobal(centre));
  QApplication::sendEvent(webButton, &help);
  QVERIFY(!QToolTip::isVisible());
}

}  // namespace scoutor

QTEST_MAIN(scoutor::DeviceFormTest)
#include "DeviceForm_test.moc"
