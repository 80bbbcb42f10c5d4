// The main window over 10,000 simulated devices on two segments, 1,000 of which drop echo
// requests, inside private network namespaces:
//   pc eth0 10.70.0.1/16 -- lan1 -- "near" (5,000 devices that answer pings)
//   pc eth1 10.71.0.1/16 -- lan2 -- "far" (4,000 that answer) and "silent" (1,000 that hold
//                                    their addresses, answer ARP and discovery, drop echoes)
// The real window (offscreen), engine, reachability service and Qt loop run in this process,
// in the pc namespace. Figures: devices listed and listed wrongly (sign where the device
// answers or none where it does not), the longest time from a check's end to its row, the
// longest gap between two runs of a 10 ms timer in the window's loop from the scan's start to
// the last row (the window's responsiveness; a blocking ping per row would make it 5 s), how
// long the list took to fill, and the process's peak memory.
// Usage: window_scan_bench [DEVICES] [SILENT]   (defaults 10000 1000)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

#include "protocol/StartEngine.h"
#include "tests/support/NetnsBed.h"
#include "ui/Devices.h"
#include "ui/QtEventLoop.h"

namespace {

using scoutor::test::TNetnsBed;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kIDColumn = 3;
constexpr qint64 kGiveUpMs = 20 * 60 * 1000;
constexpr qint64 kSettledMs = 10000;

std::string MacBase(int first) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:%02X:%02X:%02X", (first >> 16) & 0xFF,
                (first >> 8) & 0xFF, first & 0xFF);
  return text;
}

std::string IDText(int number) {
  return MacBase(number);
}

// Thousands of held addresses take a while to set up: up to two minutes.
void WaitForListener(TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 1200; ++i) {
    if (!bed.Run(ns, "ss -Huan 'sport = :17784'").empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  throw std::runtime_error("the simulator in " + ns + " does not listen");
}

// Devices numbered from `first` (their IDs 02:00:00:..), addresses from `ipBase` upwards.
void AddDevices(TNetnsBed& bed, const std::string& segment, const std::string& name, int first,
                int count, const std::string& ipBase, bool dropEchoes) {
  if (count <= 0) return;
  const std::string ns = bed.AddHost(name);
  bed.Attach(ns, segment, "eth0", "");
  if (dropEchoes) bed.Run(ns, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  bed.Spawn(ns,
            {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(count), "--ip-base",
             ipBase, "--mask", "255.255.0.0", "--mac-base", MacBase(first)},
            "/dev/null");
  WaitForListener(bed, ns);
}

}  // namespace

int main(int argc, char** argv) {
  const int devices = argc > 1 ? std::stoi(argv[1]) : 10000;
  const int silent = argc > 2 ? std::stoi(argv[2]) : 1000;
  const int nearCount = (devices - silent) * 5 / 9;
  const int farCount = devices - silent - nearCount;
  if (geteuid() != 0) {
    std::printf("window_scan_bench: needs root for network namespaces; skipped\n");
    return 0;
  }

  TNetnsBed bed;
  const std::string lan1 = bed.AddSegment("lan1");
  const std::string lan2 = bed.AddSegment("lan2");
  const std::string pc = bed.AddHost("pc");
  bed.Attach(pc, lan1, "eth0", "10.70.0.1/16");
  bed.Attach(pc, lan2, "eth1", "10.71.0.1/16");
  AddDevices(bed, lan1, "near", 1, nearCount, "10.70.1.0", false);
  AddDevices(bed, lan2, "far", 1 + nearCount, farCount, "10.71.1.0", false);
  AddDevices(bed, lan2, "silent", 1 + nearCount + farCount, silent, "10.71.200.0", true);
  bed.Run(pc, "ip neigh flush all");
  TNetnsBed::EnterOnThisThread(pc);

  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  scoutor::TQtEventLoop loop;
  scoutor::TMainLoopScope mainLoop(loop);
  if (!scoutor::StartEngine()) return 1;
  int figuresExit = 0;
  {
    scoutor::TReachabilityService reachability(loop);
    scoutor::TAddressChooser chooser(reachability, loop);
    QElapsedTimer clock;
    std::map<std::string, qint64> checkEnded;  // by address
    qint64 lastRowMs = 0;
    int checksStarted = 0, checksEnded = 0;
    qint64 longestCheckToRow = 0;
    scoutor::TDeviceFormSeams seams;
    seams.CheckReachable = [&](const std::string& address, scoutor::TCheckDone done) {
      return reachability.Check(address,
                                [&, done = std::move(done)](const scoutor::TCheckResult& r) {
                                  checkEnded[r.Address] = clock.nsecsElapsed();
                                  done(r);
                                });
    };
    seams.CancelCheck = [&](scoutor::TCheckId id) { reachability.Cancel(id); };
    seams.ChooseAddress = [&](const std::string& local, auto done) { chooser.Start(local, done); };
    seams.ConfigureDevice = [](const std::string&) { return false; };
    seams.UpgradeDevice = [](const std::string&) {};
    seams.ShowAbout = [] {};
    seams.OpenUrl = [](const std::string&, std::function<void()>) {};

    scoutor::TDeviceForm window(std::move(seams), loop);
    auto* list = window.findChild<QTreeWidget*>("DeviceList");
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int row, int) {
                       const std::string address = list->topLevelItem(row)->text(2).toStdString();
                       longestCheckToRow =
                           std::max(longestCheckToRow, clock.nsecsElapsed() - checkEnded[address]);
                     });

    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted,
                     [&] { lastRowMs = clock.elapsed(); });

    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      longestGap = std::max(longestGap, now - lastTick);
      lastTick = now;
      // Done when every device is listed, or when the scan is over, no check runs and no row
      // came for a while (replies that were lost), or at the latest after kGiveUpMs.
      const bool settled = !window.VEPInterface().Scanning() && checksStarted > 0 &&
                           checksEnded == checksStarted && now - lastRowMs > kSettledMs;
      if (list->topLevelItemCount() >= devices || settled || now > kGiveUpMs) QApplication::quit();
    });
    clock.start();
    ticker.start();
    window.show();  // the first showing scans
    QApplication::exec();

    int wrong = 0;
    std::map<std::string, bool> signOf;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = list->topLevelItem(row);
      signOf[item->text(kIDColumn).toStdString()] =
          !item->data(0, Qt::AccessibleDescriptionRole).toString().isEmpty();
    }
    for (int number = 1; number <= devices; ++number) {
      const auto found = signOf.find(IDText(number));
      const bool shouldHaveSign = number > nearCount + farCount;
      if (found != signOf.end() && found->second == shouldHaveSign) continue;
      if (++wrong <= 5)
        std::printf("  wrong: %s %s\n", IDText(number).c_str(),
                    found == signOf.end() ? "missing" : (found->second ? "sign" : "no sign"));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("devices %d (silent %d) on two segments\n", devices, silent);
    std::printf("  listed %d, missing or wrong %d\n", list->topLevelItemCount(), wrong);
    std::printf("  last row after %.1f s\n", lastRowMs / 1000.0);
    std::printf("  longest check end to row: %.3f ms (target under 1000 ms)\n",
                longestCheckToRow / 1e6);
    std::printf("  longest gap of a 10 ms timer in the window's loop: %lld ms (target under 100)\n",
                static_cast<long long>(longestGap));
    std::printf("  peak memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
    figuresExit = wrong == 0 ? 0 : 2;
  }
  scoutor::EngineInstance.reset();
  return figuresExit;
}
