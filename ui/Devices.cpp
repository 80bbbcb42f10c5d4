#include "ui/Devices.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <initializer_list>

#include "appmodel/DeviceOrder.h"
#include "appmodel/IPSettings.h"
#include "protocol/VEP.h"
#include "ui/Icons.h"
#include "ui/QtNotifier.h"

namespace scoutor {

namespace {

// Every caption, hint and message of the window.
namespace texts {
constexpr const char* kFileMenu = "&File";
constexpr const char* kEditMenu = "&Edit";
constexpr const char* kHelpMenu = "&Help";
constexpr const char* kUndo = "&Undo";
constexpr const char* kCut = "Cu&t";
constexpr const char* kCopy = "&Copy";
constexpr const char* kPaste = "&Paste";
constexpr const char* kScan = "Scan";
constexpr const char* kScanHint = "Scan for devices";
constexpr const char* kConfigure = "Configure";
constexpr const char* kConfigureHint = "Configure network settings";
constexpr const char* kUpgrade = "Upgrade";
constexpr const char* kWeb = "Web";
constexpr const char* kWebHint = "Load the web configuration interface";
constexpr const char* kAutoIP = "Auto IP";
constexpr const char* kAutoIPHint = "Automatically set the IP address of the device";
constexpr const char* kUpgradeAny = "Upgrade...";
constexpr const char* kAbout = "About...";
constexpr const char* kAboutHint = "About the application";
constexpr const char* kExit = "Exit";
constexpr const char* kLegend = "= device is not reachable. Try using Auto IP.";
constexpr const char* kNotReachable = "device is not reachable";
constexpr const char* kWebFailedBefore = "An error occured. Please open ";
constexpr const char* kWebFailedAfter = " from your browser.";
const std::string kAutoIPRefused = "Auto IP found no address it can give the device: ";
// Names for assistive technology where the control shows no text of its own.
constexpr const char* kDeviceListName = "Devices";
constexpr const char* kProgressName = "Scan progress";
constexpr const char* kProblemImageName = "Not reachable sign";
constexpr const char* kToolBarName = "Tool bar";
constexpr const char* kStatusBarName = "Hint";
}  // namespace texts

// The image list, by index.
constexpr std::array<const char*, 6> kImages = {
    ":/icons/scan.svg", ":/icons/configure.svg",     ":/icons/upgrade.svg",
    ":/icons/web.svg",  ":/icons/not-reachable.svg", ":/icons/auto-ip.svg"};
constexpr int kNotReachableImage = 4;

enum TColumn { kName, kType, kIPAddress, kID, kInterface, kColumns };
constexpr std::array<int, kColumns> kColumnWidths = {120, 170, 100, 120, 100};
constexpr std::array<const char*, kColumns> kColumnCaptions = {"Name", "Type", "IP Address", "ID",
                                                               "Interface"};
// Whether a row carries the not-reachable sign.
constexpr int kNotReachableRole = Qt::UserRole + 1;

constexpr int kProgressTicks = 16;
// Rows added in one turn of the loop at most (each costs a sorted insertion into the list).
constexpr int kRowsPerTurn = 40;
constexpr int kScanTickMs = 125;
// How long Auto IP's set-IP request listens for the device's acknowledgement.
constexpr int kAutoIPAnswerMs = 3000;
constexpr QSize kDefaultSize{523, 300};
constexpr QSize kSmallestSize{300, 200};
constexpr QSize kToolButtonSize{52, 36};
constexpr QSize kImageSize{16, 16};
constexpr int kStripHeight = 29;
constexpr int kProgressLeft = 272;
constexpr QSize kProgressSize{177, 8};
constexpr int kLegendLeft = 6;

// `font`, made smaller where needed (down to 6 points) until each of `texts` fits `room` pixels:
// the tool buttons and the legend keep their places, their texts are read whole.
QFont FontToFit(QFont font, const QStringList& texts, int room) {
  constexpr qreal kSmallestPoints = 6;
  const auto widest = [&font, &texts] {
    int width = 0;
    for (const QString& text : texts)
      width = std::max(width, QFontMetrics(font).horizontalAdvance(text));
    return width;
  };
  while (widest() > room && font.pointSizeF() > kSmallestPoints)
    font.setPointSizeF(font.pointSizeF() - 0.5);
  return font;
}

QIcon Image(int index) {
  return QIcon(kImages[static_cast<std::size_t>(index)]);
}

// Rows without the sign carry a blank picture, so that every caption starts at the same place.
QIcon BlankImage() {
  QPixmap blank(kImageSize);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

}  // namespace

TDeviceForm::TDeviceForm(TDeviceFormSeams seams, TEventLoop& loop, TVEPFunctions functions,
                         QWidget* parent)
    : QMainWindow(parent),
      Seams(std::move(seams)),
      Loop(loop),
      Interface(std::make_unique<TVEPInterface>(loop, functions)),
      AutoIPCheck({}, loop),
      AutoIPRequest(*Interface, loop),
      ScanTimer(loop) {
  RegisterIcons();
  setWindowTitle(ApplicationTitle());
  setWindowIcon(QIcon(":/icons/scoutor.svg"));
  ScanTimer.SetInterval(kScanTickMs);
  ScanTimer.OnTimer = [this] { ScanTimerTimer(); };

  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateDeviceList();

  auto* centre = new QWidget(this);
  auto* layout = new QVBoxLayout(centre);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(DeviceList, 1);
  layout->addWidget(CreateBottomStrip());
  setCentralWidget(centre);

  statusBar()->setAccessibleName(texts::kStatusBarName);
  statusBar()->setSizeGripEnabled(true);

  resize(kDefaultSize);
  setMinimumSize(kSmallestSize);
  CentreOnScreen();
  ActionList1Update();
}

TDeviceForm::~TDeviceForm() {
  CancelPendingChecks();
}

void TDeviceForm::CreateActions() {
  const auto make = [this](const char* name, const char* caption, const char* hint, int image) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setToolTip(QString());
    if (image >= 0) action->setIcon(Image(image));
    return action;
  };
  Scan = make("Scan", texts::kScan, texts::kScanHint, 0);
  SetIPConfig = make("SetIPConfig", texts::kConfigure, texts::kConfigureHint, 1);
  DoUpgrade = make("DoUpgrade", texts::kUpgrade, "", 2);
  Webserver = make("Webserver", texts::kWeb, texts::kWebHint, 3);
  AutoSetIP = make("AutoSetIP", texts::kAutoIP, texts::kAutoIPHint, 5);
  // Every tool-bar command has a key, clear of the Edit menu's Ctrl+Z, X, C and V. Auto IP
  // changes a device without asking, so its key takes Shift as well.
  Scan->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  SetIPConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
  DoUpgrade->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
  Webserver->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
  AutoSetIP->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  UpgradeAny = make("UpgradeAny", texts::kUpgradeAny, "", -1);
  About = make("About", texts::kAbout, texts::kAboutHint, -1);
  Exit = make("Exit", texts::kExit, "", -1);

  // An error escaping a command is shown in the standard error box.
  const auto run = [this](QAction* action, void (TDeviceForm::*command)()) {
    connect(action, &QAction::triggered, this,
            [this, command] { RunCommand(this, [this, command] { (this->*command)(); }); });
  };
  run(Scan, &TDeviceForm::ScanExecute);
  run(SetIPConfig, &TDeviceForm::SetIPConfigExecute);
  run(DoUpgrade, &TDeviceForm::DoUpgradeExecute);
  run(Webserver, &TDeviceForm::WebserverExecute);
  run(AutoSetIP, &TDeviceForm::AutoSetIPExecute);
  run(UpgradeAny, &TDeviceForm::UpgradeAnyExecute);
  run(About, &TDeviceForm::AboutExecute);
  run(Exit, &TDeviceForm::ExitExecute);
}

void TDeviceForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu(texts::kFileMenu);
  file->addAction(Scan);
  file->addSeparator();
  file->addAction(UpgradeAny);
  file->addSeparator();
  file->addAction(Exit);

  // The edit commands have nothing to work on in this window: shown, never enabled.
  QMenu* edit = menuBar()->addMenu(texts::kEditMenu);
  const auto disabled = [this, edit](const char* name, const char* caption, QKeySequence keys) {
    QAction* action = edit->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(keys);
    action->setEnabled(false);
  };
  disabled("Undo", texts::kUndo, QKeySequence(Qt::CTRL | Qt::Key_Z));
  edit->addSeparator();
  disabled("Cut", texts::kCut, QKeySequence(Qt::CTRL | Qt::Key_X));
  disabled("Copy", texts::kCopy, QKeySequence(Qt::CTRL | Qt::Key_C));
  disabled("Paste", texts::kPaste, QKeySequence(Qt::CTRL | Qt::Key_V));

  QMenu* help = menuBar()->addMenu(texts::kHelpMenu);
  help->addAction(About);
}

void TDeviceForm::CreateToolBar() {
  QToolBar* bar = addToolBar(texts::kToolBarName);
  bar->setObjectName("ToolBar");
  bar->setAccessibleName(texts::kToolBarName);
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setContextMenuPolicy(Qt::PreventContextMenu);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setIconSize(kImageSize);
  const std::initializer_list<QAction*> buttons = {Scan, SetIPConfig, DoUpgrade, Webserver,
                                                   AutoSetIP};
  QStringList captions;
  for (const QAction* action : buttons) captions << action->text();
  const QFont captionFont = FontToFit(bar->font(), captions, kToolButtonSize.width() - 8);
  for (QAction* action : buttons) {
    bar->addAction(action);
    QWidget* button = bar->widgetForAction(action);
    button->setFixedSize(kToolButtonSize);
    button->setFont(captionFont);
    button->setAccessibleName(action->text());
    // Hints go to the status bar only: the buttons show no tooltips.
    button->installEventFilter(this);
  }
}

void TDeviceForm::CreateDeviceList() {
  DeviceList = new QTreeWidget(this);
  DeviceList->setObjectName("DeviceList");
  DeviceList->setAccessibleName(texts::kDeviceListName);
  DeviceList->setColumnCount(kColumns);
  QStringList captions;
  for (const char* caption : kColumnCaptions) captions << caption;
  DeviceList->setHeaderLabels(captions);
  for (int column = 0; column < kColumns; ++column)
    DeviceList->setColumnWidth(column, kColumnWidths[static_cast<std::size_t>(column)]);
  DeviceList->header()->setSectionsClickable(false);
  DeviceList->header()->setSectionsMovable(false);
  DeviceList->header()->setStretchLastSection(false);
  DeviceList->setSortingEnabled(false);  // the window keeps the order itself
  DeviceList->setRootIsDecorated(false);
  DeviceList->setItemsExpandable(false);
  DeviceList->setUniformRowHeights(true);
  DeviceList->setIconSize(kImageSize);
  DeviceList->setSelectionMode(QAbstractItemView::SingleSelection);
  DeviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
  DeviceList->setAllColumnsShowFocus(true);
  DeviceList->setExpandsOnDoubleClick(false);
  // A double click anywhere in the list, on a row or not, runs Web; so does Enter in the list.
  DeviceList->viewport()->installEventFilter(this);
  DeviceList->installEventFilter(this);
  connect(DeviceList, &QTreeWidget::itemSelectionChanged, this, [this] { ActionList1Update(); });
}

QWidget* TDeviceForm::CreateBottomStrip() {
  auto* strip = new QWidget(this);
  strip->setFixedHeight(kStripHeight);
  auto* layout = new QVBoxLayout(strip);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* rule = new QFrame(strip);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  layout->addWidget(rule);
  auto* area = new QWidget(strip);
  layout->addWidget(area, 1);

  const int areaHeight = kStripHeight - rule->sizeHint().height();
  ProblemImage = new QLabel(area);
  ProblemImage->setObjectName("ProblemImage");
  ProblemImage->setAccessibleName(texts::kProblemImageName);
  ProblemImage->setPixmap(Image(kNotReachableImage).pixmap(kImageSize, devicePixelRatioF()));
  ProblemImage->setGeometry(kLegendLeft, (areaHeight - kImageSize.height()) / 2, kImageSize.width(),
                            kImageSize.height());
  ProblemLabel = new QLabel(texts::kLegend, area);
  ProblemLabel->setObjectName("ProblemLabel");
  ProblemLabel->setAccessibleName(texts::kLegend);
  // The legend ends before the progress bar, which may show at the same time.
  const int legendTextLeft = kLegendLeft + kImageSize.width() + 4;
  ProblemLabel->setFont(
      FontToFit(ProblemLabel->font(), {texts::kLegend}, kProgressLeft - 4 - legendTextLeft));
  ProblemLabel->adjustSize();
  ProblemLabel->move(legendTextLeft, (areaHeight - ProblemLabel->height()) / 2);
  ProblemImage->hide();
  ProblemLabel->hide();

  Progress = new QProgressBar(area);
  Progress->setObjectName("Progress");
  Progress->setAccessibleName(texts::kProgressName);
  Progress->setRange(0, kProgressTicks);
  Progress->setTextVisible(false);
  Progress->setGeometry(kProgressLeft, (areaHeight - kProgressSize.height()) / 2,
                        kProgressSize.width(), kProgressSize.height());
  Progress->hide();
  return strip;
}

void TDeviceForm::CentreOnScreen() {
  if (const QScreen* screen = QApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TDeviceForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!ScannedOnShow) {  // FormShow: the list fills by itself on the first showing
    ScannedOnShow = true;
    ScanExecute();
  }
}

bool TDeviceForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip) return true;
  if (watched == DeviceList->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    RunCommand(this, [this] { WebserverExecute(); });  // DeviceListDblClick
    return true;
  }
  if (watched == DeviceList && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      RunCommand(this, [this] { WebserverExecute(); });
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TDeviceForm::ScanExecute() {
  const QTreeWidgetItem* selected = SelectedRow();
  LastSelectedID = selected != nullptr ? selected->text(kID).toStdString() : std::string();
  // Results still to come from the last scan belong to a list that is gone.
  CancelPendingChecks();
  DeviceList->clear();
  ListedIDs.clear();
  RowsWaiting.clear();
  Interface->OnDeviceFound.Set(
      this, [this](TVEPInterface&, const TDeviceInfo& info) { DeviceFound(info); });
  Progress->setValue(0);
  Progress->show();
  ScanTimer.SetEnabled(true);
  ProblemImage->hide();
  ProblemLabel->hide();
  Interface->StartScan();
  ActionList1Update();
}

void TDeviceForm::ScanTimerTimer() {
  Progress->setValue(Progress->value() + 1);
  if (Progress->value() == Progress->maximum()) {
    Progress->hide();
    ScanTimer.SetEnabled(false);
  }
}

void TDeviceForm::DeviceFound(const TDeviceInfo& info) {
  // The first reply fixes the device's row, also while its check is still running.
  if (PendingChecks.contains(info.ID) || ListedIDs.contains(info.ID)) return;
  TDeviceInfo device = info;
  PendingChecks[info.ID] =
      Seams.CheckReachable(info.IPAddress, [this, device](const TCheckResult& result) {
        // The log in debug mode has the check's end, its reason and its path from the service.
        PendingChecks.erase(device.ID);
        RowReady(device, result.Outcome == TReachability::Reachable);
      });
}

void TDeviceForm::RowReady(const TDeviceInfo& info, bool reachable) {
  if (RowsWaiting.empty() && RowsThisTurn < kRowsPerTurn) {
    CountRowThisTurn();
    AddRow(info, reachable);
    return;
  }
  // Thousands of checks can end at once; their rows go in a few dozen per turn of the loop so
  // that the window keeps answering meanwhile.
  RowsWaiting.emplace_back(info, reachable);
  if (!DrainPosted) {
    DrainPosted = true;
    PostToWindow([this] { AddWaitingRows(); });
  }
}

void TDeviceForm::AddWaitingRows() {
  DrainPosted = false;
  while (!RowsWaiting.empty() && RowsThisTurn < kRowsPerTurn) {
    CountRowThisTurn();
    const auto [info, reachable] = std::move(RowsWaiting.front());
    RowsWaiting.pop_front();
    AddRow(info, reachable);
  }
  if (!RowsWaiting.empty()) {
    DrainPosted = true;
    PostToWindow([this] { AddWaitingRows(); });
  }
}

void TDeviceForm::CountRowThisTurn() {
  if (RowsThisTurn++ == 0) PostToWindow([this] { RowsThisTurn = 0; });
}

void TDeviceForm::PostToWindow(std::function<void()> step) {
  Loop.Post([window = QPointer<TDeviceForm>(this), step = std::move(step)] {
    if (window) step();
  });
}

namespace {

// The parts of a row that its place in the order depends on.
TDeviceInfo RowDevice(const QTreeWidgetItem& row) {
  TDeviceInfo device;
  device.Name = row.text(kName).toStdString();
  device.Type = row.text(kType).toStdString();
  device.IPAddress = row.text(kIPAddress).toStdString();
  device.ID = row.text(kID).toStdString();
  device.Interface = row.text(kInterface).toStdString();
  return device;
}

}  // namespace

// Names as vepctl lists them: the user's collation, case-sensitive, equal names by ID.
int TDeviceForm::SortedPosition(const TDeviceInfo& info) const {
  int low = 0, high = DeviceList->topLevelItemCount();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (ComesBefore(info, RowDevice(*DeviceList->topLevelItem(middle)), TDeviceOrder::Name))
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

std::vector<TDeviceInfo> TDeviceForm::ListedDevices() const {
  std::vector<TDeviceInfo> devices;
  for (int i = 0; i < DeviceList->topLevelItemCount(); ++i)
    devices.push_back(RowDevice(*DeviceList->topLevelItem(i)));
  return devices;
}

void TDeviceForm::AddRow(const TDeviceInfo& info, bool reachable) {
  auto* row = new QTreeWidgetItem();
  row->setText(kName, QString::fromStdString(info.Name));
  row->setText(kType, QString::fromStdString(info.Type));
  row->setText(kIPAddress, QString::fromStdString(info.IPAddress));
  row->setText(kID, QString::fromStdString(info.ID));
  row->setText(kInterface, QString::fromStdString(info.Interface));
  row->setData(kName, kNotReachableRole, !reachable);
  if (reachable) {
    row->setIcon(kName, BlankImage());
  } else {
    row->setIcon(kName, Image(kNotReachableImage));
    row->setData(kName, Qt::AccessibleDescriptionRole, texts::kNotReachable);
    ProblemImage->show();
    ProblemLabel->show();
  }
  DeviceList->insertTopLevelItem(SortedPosition(info), row);
  ListedIDs.insert(info.ID);

  if (info.ID == LastSelectedID || SelectedRow() == nullptr) DeviceList->setCurrentItem(row);
  ActionList1Update();
}

void TDeviceForm::CancelPendingChecks() {
  if (Seams.CancelCheck)
    for (const auto& [id, check] : PendingChecks) Seams.CancelCheck(check);
  PendingChecks.clear();
}

QTreeWidgetItem* TDeviceForm::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = DeviceList->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

void TDeviceForm::ActionList1Update() {
  const QTreeWidgetItem* selected = SelectedRow();
  const bool rowSelected = selected != nullptr;
  SetIPConfig->setEnabled(rowSelected);
  DoUpgrade->setEnabled(rowSelected);
  Webserver->setEnabled(rowSelected);
  AutoSetIP->setEnabled(rowSelected && !ChoosingAddress &&
                        selected->data(kName, kNotReachableRole).toBool());
}

void TDeviceForm::SetIPConfigExecute() {
  const QTreeWidgetItem* selected = SelectedRow();
  if (selected == nullptr) return;
  if (Seams.ConfigureDevice(selected->text(kID).toStdString())) ScanExecute();
}

void TDeviceForm::DoUpgradeExecute() {
  const QTreeWidgetItem* selected = SelectedRow();
  if (selected == nullptr) return;
  Seams.UpgradeDevice(selected->text(kIPAddress).toStdString());
}

void TDeviceForm::UpgradeAnyExecute() {
  Seams.UpgradeDevice(std::string());
}

void TDeviceForm::WebserverExecute() {
  const QTreeWidgetItem* selected = SelectedRow();
  if (selected == nullptr) return;
  const QString url = "http://" + selected->text(kIPAddress) + "/";
  // The browser starts on its own; a failure is told when the opener has given up.
  Seams.OpenUrl(url.toStdString(), [window = QPointer<TDeviceForm>(this), url] {
    if (window)
      ShowBox(window, QMessageBox::NoIcon, ApplicationTitle(),
              texts::kWebFailedBefore + url + texts::kWebFailedAfter);
  });
}

void TDeviceForm::AutoSetIPExecute() {
  const QTreeWidgetItem* selected = SelectedRow();
  if (selected == nullptr || ChoosingAddress) return;
  ChoosingAddress = true;
  ActionList1Update();
  // The choice takes seconds; its result belongs to the device selected now.
  const std::string deviceID = selected->text(kID).toStdString();
  Seams.ChooseAddress(
      selected->text(kInterface).toStdString(),
      [window = QPointer<TDeviceForm>(this), deviceID](const TAddressChoice& choice) {
        if (window) window->AutoIPChosen(deviceID, choice);
      });
}

// The chosen address goes to the device only when its settings can work and no listed
// device, nor this host, holds it; the fresh scan shows the result.
void TDeviceForm::AutoIPChosen(const std::string& deviceID, const TAddressChoice& choice) {
  if (!choice.Found) {
    ChoosingAddress = false;
    ActionList1Update();
    if (!choice.Error.empty() && Interface->LogLine) Interface->LogLine("Auto IP: " + choice.Error);
    return;
  }
  const TIPSettings settings{false, choice.Address, choice.Mask, choice.Gateway};
  if (const std::string problem = SendingProblem(settings); !problem.empty()) {
    AutoIPRefused(problem);
    return;
  }
  AutoIPCheck.Start(choice.Address, deviceID, [this, deviceID, settings] {
    if (const std::string user = AutoIPCheck.User(ListedDevices()); !user.empty()) {
      AutoIPRefused(InUseText(settings.Address, user));
      return;
    }
    ChoosingAddress = false;
    AutoIPRequest.SetIP(deviceID, settings, kAutoIPAnswerMs);
    ScanExecute();
  });
}

void TDeviceForm::AutoIPRefused(const std::string& problem) {
  ChoosingAddress = false;
  ActionList1Update();
  ShowBox(this, QMessageBox::Critical, ApplicationTitle(),
          QString::fromStdString(texts::kAutoIPRefused + problem + "."));
}

void TDeviceForm::AboutExecute() {
  Seams.ShowAbout();
}

void TDeviceForm::ExitExecute() {
  close();
}

}  // namespace scoutor
