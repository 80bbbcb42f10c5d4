#include "ui/Startup.h"

#include <QApplication>

#include <exception>
#include <memory>

#include "appmodel/DebugMode.h"
#include "appmodel/UpgradeAttempts.h"
#include "hostnet/AddressChooser.h"
#include "hostnet/MissingReplies.h"
#include "hostnet/ReachabilityService.h"
#include "protocol/StartEngine.h"
#include "runtime/NamedLock.h"
#include "ui/About.h"
#include "ui/Activation.h"
#include "ui/Devicecomm.h"
#include "ui/Devices.h"
#include "ui/Ipconfig.h"
#include "ui/Log.h"
#include "ui/MaskedAddressEdit.h"
#include "ui/QtEventLoop.h"
#include "ui/QtNotifier.h"
#include "ui/Upgrade.h"
#include "ui/UrlOpener.h"

namespace scoutor {

namespace {

// The windows besides the main one, made after it; the main window's seams reach them here.
struct TDialogs {
  TUpgradeForm* Upgrade = nullptr;
  TIPConfigForm* IPConfig = nullptr;
  TAboutForm* About = nullptr;
};

TDeviceFormSeams DesktopSeams(TReachabilityService& reachability, TAddressChooser& chooser,
                              const TDialogs& dialogs) {
  TDeviceFormSeams seams;
  seams.CheckReachable = [&reachability](const std::string& address, TCheckDone done) {
    return reachability.Check(address, std::move(done));
  };
  seams.CancelCheck = [&reachability](TCheckId id) { reachability.Cancel(id); };
  seams.ChooseAddress = [&chooser](const std::string& localAddress, auto done) {
    chooser.Start(localAddress, std::move(done));
  };
  seams.ConfigureDevice = [&dialogs](const std::string& deviceID) {
    dialogs.IPConfig->DeviceID = QString::fromStdString(deviceID);
    return dialogs.IPConfig->exec() == QDialog::Accepted;
  };
  seams.UpgradeDevice = [&dialogs](const std::string& address) {
    dialogs.Upgrade->IPAddress->SetAddressText(QString::fromStdString(address));
    dialogs.Upgrade->exec();
  };
  seams.ShowAbout = [&dialogs] { dialogs.About->exec(); };
  seams.OpenUrl = OpenInBrowser;
  return seams;
}

// The engine lives until the program ends; it goes before the loop it runs on.
struct TEngineEnd {
  ~TEngineEnd() { EngineInstance.reset(); }
};

// The message boxes stand in for the core's notices while the program runs.
struct TNotifierScope {
  explicit TNotifierScope(TNotifier& notifier) { SetNotifier(&notifier); }
  ~TNotifierScope() { SetNotifier(nullptr); }
  TNotifierScope(const TNotifierScope&) = delete;
  TNotifierScope& operator=(const TNotifierScope&) = delete;
};

int RunWindows(TQtEventLoop& loop) {
  if (!StartEngine()) return 1;
  TEngineEnd engineEnd;
  if (!CreateNamedLock(kProgramLock)) {
    ActivateRunningCopy(kProgramLock);
    return 0;
  }
  SetDebugMode(DebugOptionGiven(QApplication::arguments().mid(1)));

  TReachabilityOptions checks;
  // In debug mode the log says which path each reachability check took.
  if (DebugMode()) checks.Ended = [](const TCheckResult& result) { LogLine(CheckLogLine(result)); };
  TReachabilityService reachability(loop, checks);
  TAddressChooser chooser(reachability, loop);
  TDialogs dialogs;
  TDeviceForm main(DesktopSeams(reachability, chooser, dialogs), loop);
  TVEPInterface& vep = main.VEPInterface();
  TUpgradeForm upgrade(EngineUpload(), loop, &main);
  TDeviceCommForm wait(loop, &main);
  TIPConfigForm ipConfig(vep, wait, loop, &main);
  ipConfig.ListedDevices = [&main] { return main.ListedDevices(); };
  TAboutForm about(&main);
  TLogForm log;
  dialogs = {&upgrade, &ipConfig, &about};
  vep.LogLine = LogLine;
  // In debug mode the log says which devices this copy cannot hear, and why.
  if (const std::string missing = MissingRepliesExplanation(ApplicationTitle().toStdString());
      !missing.empty())
    LogLine(missing);
  vep.HandleUpgradeProgress = HandleUpgradeProgress;
  TActivationServer activation(kProgramLock, main);

  // Closing the main window ends the program, also while the log window is open.
  log.setAttribute(Qt::WA_QuitOnClose, false);
  if (DebugMode()) log.show();
  main.show();
  QApplication::exec();
  return 0;
}

}  // namespace

bool DebugOptionGiven(const QStringList& arguments) {
  return arguments.contains("-d");
}

int RunScoutor(int& argc, char** argv) {
  QApplication application(argc, argv);
  SetApplicationTitleFromExecutable();
  // The desktop finds the program's icon and name through its desktop entry.
  QGuiApplication::setDesktopFileName(kDesktopEntry);
  TQtEventLoop loop;
  TMainLoopScope mainLoop(loop);
  TQtNotifier notifier;
  TNotifierScope notices(notifier);
  try {
    return RunWindows(loop);
  } catch (const std::exception& error) {
    ShowErrorBox(nullptr, QString::fromUtf8(error.what()));
  }
  return 0;
}

}  // namespace scoutor
