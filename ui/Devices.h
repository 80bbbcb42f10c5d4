#pragma once
// TDeviceForm, the main window: the list of the devices that answered the last scan, one row
// per device ID, sorted by name, with the not-reachable sign on the devices that do not answer
// a ping; the actions on the selected device (scan, configure, upgrade, web page, Auto IP), the
// upgrade of any device and the About box. It owns the application's interface object.
//
// Nothing here blocks the window: every new device's ping runs on the core's reachability
// service and its row is added, with its final icon, when the check ends; Auto IP's address
// choice runs the same way. Main thread only.
#include <QMainWindow>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>

#include <vector>

#include "appmodel/AddressUse.h"
#include "appmodel/DeviceRequest.h"
#include "appmodel/VEPInterface.h"
#include "runtime/Timer.h"
#include "ui/DeviceFormSeams.h"

class QAction;
class QLabel;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace scoutor {

class TDeviceForm : public QMainWindow {
  Q_OBJECT

 public:
  // The window's timers and its interface object run on `loop`.
  explicit TDeviceForm(TDeviceFormSeams seams, TEventLoop& loop = MainLoop(),
                       TVEPFunctions functions = TVEPFunctions::Exported(),
                       QWidget* parent = nullptr);
  ~TDeviceForm() override;

  // The one interface object, through which the other windows talk to the engine.
  TVEPInterface& VEPInterface() { return *Interface; }

  void ScanExecute();
  // The devices the list shows, in its order.
  std::vector<TDeviceInfo> ListedDevices() const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateDeviceList();
  QWidget* CreateBottomStrip();
  void CentreOnScreen();

  void ScanTimerTimer();
  void DeviceFound(const TDeviceInfo& info);
  void RowReady(const TDeviceInfo& info, bool reachable);
  void AddWaitingRows();
  void CountRowThisTurn();
  void PostToWindow(std::function<void()> step);
  void AddRow(const TDeviceInfo& info, bool reachable);
  int SortedPosition(const TDeviceInfo& info) const;
  void CancelPendingChecks();
  void ActionList1Update();
  QTreeWidgetItem* SelectedRow() const;

  void SetIPConfigExecute();
  void DoUpgradeExecute();
  void UpgradeAnyExecute();
  void WebserverExecute();
  void AutoSetIPExecute();
  void AutoIPChosen(const std::string& deviceID, const TAddressChoice& choice);
  void AutoIPRefused(const std::string& problem);
  void AboutExecute();
  void ExitExecute();

  TDeviceFormSeams Seams;
  TEventLoop& Loop;
  std::unique_ptr<TVEPInterface> Interface;
  // Auto IP's check of its chosen address against the list, and its set-IP request.
  TAddressUseCheck AutoIPCheck;
  TDeviceRequest AutoIPRequest;
  std::string LastSelectedID;
  TTimer ScanTimer;
  // Devices whose reachability check is still running, by ID: they count as listed already.
  std::map<std::string, TCheckId> PendingChecks;
  // The ID column of the list as a set, so that a reply of a listed device costs no walk
  // through thousands of rows.
  std::unordered_set<std::string> ListedIDs;
  // Rows whose checks have ended, waiting for a later turn of the loop.
  std::deque<std::pair<TDeviceInfo, bool>> RowsWaiting;
  int RowsThisTurn = 0;
  bool DrainPosted = false;
  bool ChoosingAddress = false;
  bool ScannedOnShow = false;

  QTreeWidget* DeviceList = nullptr;
  QProgressBar* Progress = nullptr;
  QLabel* ProblemImage = nullptr;
  QLabel* ProblemLabel = nullptr;

  QAction* Scan = nullptr;
  QAction* SetIPConfig = nullptr;
  QAction* DoUpgrade = nullptr;
  QAction* Webserver = nullptr;
  QAction* AutoSetIP = nullptr;
  QAction* UpgradeAny = nullptr;
  QAction* About = nullptr;
  QAction* Exit = nullptr;
};

}  // namespace scoutor
