// The main window over 10,000 simulated devices on two segments, 1,000 of which drop echo
// requests, inside private network namespaces:
//   pc eth0 10.70.0.1/16 -- lan1 -- "near" (5,000 devices that answer pings)
//   pc eth1 10.71.0.1/16 -- lan2 -- "far" (4,000 that answer) and "silent" (1,000 that hold
//                                    their addresses, answer ARP and discovery, drop echoes)
// The real window (offscreen), engine, reachability service and Qt loop run in this process,
// in the pc namespace; as root, its checks take the link layer's path (ARP of their own, paced
// per interface, nothing added to the neighbour table). Figures: devices listed and listed
// wrongly (sign where the device answers or none where it does not), the time of the last row
// from the scan's start (the window's first showing), the longest time from a check's end to
// its row, the longest gap between two runs of a 10 ms timer in the window's loop from the
// scan's start to the last row (the window's responsiveness; a blocking ping per row would
// make it 5 s), which path the checks took, the pc's neighbour entries, and the process's peak
// memory; each against its target. Then, in the same run, fping over the same addresses.
// Usage: window_scan_bench [DEVICES] [SILENT]   (defaults 10000 1000)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "protocol/StartEngine.h"
#include "tests/support/NetnsBed.h"
#include "transport/IPv4Text.h"
#include "ui/Devices.h"
#include "ui/QtEventLoop.h"

namespace {

using scoutor::test::TNetnsBed;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kIDColumn = 3;
constexpr qint64 kGiveUpMs = 20 * 60 * 1000;
constexpr qint64 kSettledMs = 10000;
constexpr qint64 kLastRowTargetMs = 30000;
constexpr qint64 kLoopGapTargetMs = 100;
constexpr qint64 kCheckToRowTargetMs = 1000;

std::string Met(bool met) {
  return met ? "met" : "MISSED";
}

// The dotted address `count` after `base`.
std::string AddressAfter(const std::string& base, int count) {
  const std::uint32_t value = scoutor::HostOrderIPv4(*scoutor::ParseDottedIPv4(base)) + count;
  return scoutor::DottedIPv4(
      {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
       static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

int NeighbourEntries(TNetnsBed& bed, const std::string& ns) {
  return std::stoi(bed.Run(ns, "ip -4 neigh show | wc -l"));
}

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

// Devices numbered from `first` (their IDs 02:00:00:..), addresses from `ipBase` upwards. Real
// devices have neighbour tables of their own; simulated ones share the one table of this kernel
// with the pc, which fping fills. So the devices know the pc's link-layer address for good.
void AddDevices(TNetnsBed& bed, const std::string& segment, const std::string& name, int first,
                int count, const std::string& ipBase, bool dropEchoes, const std::string& pcIP,
                const std::string& pcMac) {
  if (count <= 0) return;
  const std::string ns = bed.AddHost(name);
  bed.Attach(ns, segment, "eth0", "");
  if (dropEchoes) bed.Run(ns, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  bed.Run(ns, "ip neigh replace " + pcIP + " lladdr " + pcMac + " dev eth0 nud permanent");
  bed.Spawn(ns,
            {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(count), "--ip-base",
             ipBase, "--mask", "255.255.0.0", "--mac-base", MacBase(first)},
            "/dev/null");
  WaitForListener(bed, ns);
}

std::string MacOf(TNetnsBed& bed, const std::string& ns, const std::string& ifName) {
  std::string mac = bed.Run(ns, "ip -br link show dev " + ifName + " | awk '{print $3}'");
  mac.erase(mac.find_last_not_of('\n') + 1);
  return mac;
}

struct TFpingFigures {
  int Wrong = 0;
  double Seconds = 0;
  int NeighboursAfter = 0;
};

// fping over `answering` and `silent` from namespace `ns`, its neighbour table flushed first.
TFpingFigures RunFping(TNetnsBed& bed, const std::string& ns,
                       const std::vector<std::string>& answering,
                       const std::vector<std::string>& silent) {
  const std::string targets = "/tmp/scoutor-window-scan-bench.targets";
  {
    std::ofstream file(targets);
    for (const auto& list : {answering, silent})
      for (const std::string& address : list) file << address << '\n';
  }
  bed.Run(ns, "ip neigh flush all");
  TFpingFigures figures;
  const auto start = std::chrono::steady_clock::now();
  const std::string alive =
      bed.Run(ns, "fping -a -r 0 -t 5000 -f " + targets + " 2>/dev/null; true");
  figures.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.NeighboursAfter = NeighbourEntries(bed, ns);
  std::istringstream in(alive);
  std::set<std::string> answered;
  for (std::string address; in >> address;) answered.insert(address);
  for (const std::string& address : answering) figures.Wrong += answered.count(address) == 0;
  for (const std::string& address : silent) figures.Wrong += answered.count(address) != 0;
  return figures;
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
  const std::string mac1 = MacOf(bed, pc, "eth0"), mac2 = MacOf(bed, pc, "eth1");
  AddDevices(bed, lan1, "near", 1, nearCount, "10.70.1.0", false, "10.70.0.1", mac1);
  AddDevices(bed, lan2, "far", 1 + nearCount, farCount, "10.71.1.0", false, "10.71.0.1", mac2);
  AddDevices(bed, lan2, "silent", 1 + nearCount + farCount, silent, "10.71.200.0", true,
             "10.71.0.1", mac2);
  std::vector<std::string> answering, silentAddresses;
  for (int i = 0; i < nearCount; ++i) answering.push_back(AddressAfter("10.70.1.0", i));
  for (int i = 0; i < farCount; ++i) answering.push_back(AddressAfter("10.71.1.0", i));
  for (int i = 0; i < silent; ++i) silentAddresses.push_back(AddressAfter("10.71.200.0", i));
  bed.Run(pc, "ip neigh flush all");
  const int neighboursBefore = NeighbourEntries(bed, pc);
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
    std::map<scoutor::TCheckPath, int> checksByPath;
    qint64 longestCheckToRow = 0;
    scoutor::TDeviceFormSeams seams;
    seams.CheckReachable = [&](const std::string& address, scoutor::TCheckDone done) {
      ++checksStarted;
      return reachability.Check(address,
                                [&, done = std::move(done)](const scoutor::TCheckResult& r) {
                                  ++checksEnded;
                                  ++checksByPath[r.Path];
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

    qint64 lastTick = 0, longestGap = 0, longestGapEnd = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      if (now - lastTick > longestGap) {
        longestGap = now - lastTick;
        longestGapEnd = now;
      }
      lastTick = now;
      // Done when every device is listed, or when the scan is over, no check runs and no row
      // came for a while (replies that were lost), or at the latest after kGiveUpMs.
      const bool settled = !window.VEPInterface().Scanning() && checksStarted > 0 &&
                           checksEnded == checksStarted && now - lastRowMs > kSettledMs;
      if (list->topLevelItemCount() >= devices || settled || now > kGiveUpMs) QApplication::quit();
    });
    clock.start();
    ticker.start();
    window.show();  // the first showing scans, at once: the scan's start
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
    const int neighboursAfter = NeighbourEntries(bed, pc);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const bool rowsRight = wrong == 0 && list->topLevelItemCount() == devices;
    const bool lastRowMet = rowsRight && lastRowMs <= kLastRowTargetMs;
    const bool gapMet = longestGap < kLoopGapTargetMs;
    const bool checkToRowMet = longestCheckToRow / 1000000 < kCheckToRowTargetMs;
    std::printf("devices %d (silent %d) on two segments\n", devices, silent);
    std::printf("  listed %d, missing or wrong %d (target: every row right: %s)\n",
                list->topLevelItemCount(), wrong, Met(rowsRight).c_str());
    std::printf("  last row %.1f s after the scan's start (target within %lld s: %s)\n",
                lastRowMs / 1000.0, static_cast<long long>(kLastRowTargetMs / 1000),
                Met(lastRowMet).c_str());
    std::printf(
        "  longest gap of a 10 ms timer in the window's loop: %lld ms, ending %.2f s after the "
        "scan's start (target under %lld ms: %s)\n",
        static_cast<long long>(longestGap), longestGapEnd / 1000.0,
        static_cast<long long>(kLoopGapTargetMs),
        Met(gapMet).c_str());
    std::printf("  longest check end to row: %.3f ms (target under %lld ms: %s)\n",
                longestCheckToRow / 1e6, static_cast<long long>(kCheckToRowTargetMs),
                Met(checkToRowMet).c_str());
    std::printf("  checks %d: link layer %d, kernel %d; pc neighbour entries %d -> %d\n",
                checksEnded, checksByPath[scoutor::TCheckPath::LinkLayer],
                checksByPath[scoutor::TCheckPath::Kernel], neighboursBefore, neighboursAfter);
    std::printf("  peak memory: %.1f MB\n", usage.ru_maxrss / 1024.0);
    std::printf("  targets: %s\n", rowsRight && lastRowMet && gapMet ? "all met" : "NOT all met");
    std::fflush(stdout);
    const TFpingFigures fping = RunFping(bed, pc, answering, silentAddresses);
    std::printf(
        "  fping -a -r 0 -t 5000 over the same %d addresses: wrong %d, %.1f s; pc "
        "neighbour entries 0 -> %d\n",
        devices, fping.Wrong, fping.Seconds, fping.NeighboursAfter);
    figuresExit = wrong == 0 ? 0 : 2;
  }
  scoutor::EngineInstance.reset();
  return figuresExit;
}
