// vepctl discover --ping over many simulated devices against fping over the same addresses, in
// the same run, inside private network namespaces:
//   pc 10.60.0.1/16 -- segment -- "live" (devices that answer pings)
//                              -- "silent" (devices that hold their addresses, answer ARP and
//                                 discovery, but drop echo requests)
// For each size: whether every result is right (live: reachable, silent: not reachable), the
// check phase of vepctl (its run less the scan's fixed listening time), which path its checks
// took (counted from its -d lines), its peak threads and open descriptors (read from
// /proc/<pid> while it runs), and the entries of the pc's neighbour table before and after
// each run. The table is flushed before every run.
// As root, vepctl resolves the devices with ARP itself (the link layer's path, paced at
// --arp-rate, 1000 a second by default) and adds nothing to the neighbour table, so a check of
// thousands runs at once. Without the capability (the run as nobody) it takes the kernel's
// path, which resolves in the neighbour table: Linux keeps each resolved entry for 15-45 s and
// has room for gc_thresh3 (1024) of them, shared by all namespaces, so those checks go in
// waves; fping, which also takes the kernel's path, meets the same limit.
// Then 1500 addresses that nobody holds, checked in this process by the reachability service
// on each path, against fping; and Auto IP in a /24 where 200 hosts drop echo requests but
// hold their addresses.
// Usage: discover_ping_bench [--quick]   (--quick: without the 5000-device runs)
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hostnet/AddressChoice.h"
#include "hostnet/ReachabilityService.h"
#include "runtime/HeadlessLoop.h"
#include "tests/support/NetnsBed.h"

namespace {

using scoutor::test::TNetnsBed;
using TClock = std::chrono::steady_clock;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kScanWaitMs = 3000;
constexpr double kCheckTargetSeconds = 15;
constexpr int kFreeAddresses = 1500;
constexpr double kFreeTargetSeconds = 10;
// Bounds of one run of vepctl, and of one in-process check of the free addresses.
constexpr int kRootRunLimitSeconds = 300;
constexpr int kNobodyRunLimitSeconds = 240;
constexpr int kFreeRunLimitMs = 180000;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

std::string Met(bool met) {
  return met ? "met" : "MISSED";
}

// Address number i (from 0) of a /16 whose first two bytes are `prefix`: prefix.1.0 upwards.
std::string AddressIn(const std::string& prefix, int i) {
  const int host = 256 + i;
  return prefix + "." + std::to_string(host / 256) + "." + std::to_string(host % 256);
}

std::string DeviceAddress(int i) {
  return AddressIn("10.60", i);
}

std::string MacBase(int first) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:%02X:%02X:%02X", (first >> 16) & 0xFF,
                (first >> 8) & 0xFF, first & 0xFF);
  return text;
}

int CountEntries(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// Lines of `file` that contain `text`.
int CountLinesWith(const std::string& file, const std::string& text) {
  std::ifstream in(file);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

int NeighbourEntries(TNetnsBed& bed, const std::string& ns) {
  return std::stoi(bed.Run(ns, "ip -4 neigh show | wc -l"));
}

void WaitForListener(TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 3000; ++i) {
    if (!bed.Run(ns, "ss -Huan 'sport = :17784'").empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void WriteTargets(const std::string& file, const std::vector<std::string>& addresses) {
  std::ofstream out(file);
  for (const std::string& address : addresses) out << address << '\n';
}

// How vepctl is started: as root (the link layer's path), with a low descriptor limit, or as
// nobody without any capability (the kernel's path).
struct TVepctlMode {
  const char* Label;
  std::string Shell;    // run by the shell before vepctl
  std::string Wrapper;  // the command that starts vepctl
  int LimitSeconds;
};

struct TRunFigures {
  int Wrong = 0;  // results missing or not as expected
  double CheckSeconds = 0;
  bool GaveUp = false;  // stopped at its time limit
  int PeakThreads = 0;
  int PeakDescriptors = 0;
  int LinkLayerChecks = 0;
  int KernelChecks = 0;
  int NeighboursBefore = 0;
  int NeighboursAfter = 0;
};

// One vepctl -d discover --ping in the pc namespace, watched from outside.
TRunFigures RunVepctl(TNetnsBed& bed, const std::string& pc, int live, int silent,
                      const TVepctlMode& mode) {
  bed.Run(pc, "ip neigh flush dev eth0");
  TRunFigures figures;
  figures.NeighboursBefore = NeighbourEntries(bed, pc);
  const std::string log = "/tmp/scoutor-discover-ping-bench.json";
  const std::string debug = "/tmp/scoutor-discover-ping-bench.debug";
  const auto start = TClock::now();
  const pid_t pid = bed.Spawn(
      pc,
      {"sh", "-c",
       mode.Shell + "exec " + mode.Wrapper + kVepctl + " -d --json discover --ping --wait " +
           std::to_string(kScanWaitMs) + " 2>" + debug},
      log);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (SecondsSince(start) > mode.LimitSeconds) {
      figures.GaveUp = true;
      bed.Stop(pid);
      break;
    }
    figures.PeakThreads = std::max(figures.PeakThreads, ThreadsOf(pid));
    figures.PeakDescriptors =
        std::max(figures.PeakDescriptors, CountEntries("/proc/" + std::to_string(pid) + "/fd"));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  figures.CheckSeconds = SecondsSince(start) - kScanWaitMs / 1000.0;
  figures.NeighboursAfter = NeighbourEntries(bed, pc);
  figures.LinkLayerChecks = CountLinesWith(debug, " (link layer): ");
  figures.KernelChecks = CountLinesWith(debug, " (kernel): ");

  std::map<std::string, nlohmann::json> reachable;
  std::ifstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    const auto record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object()) reachable[record.value("ip", "")] = record["reachable"];
  }
  for (int i = 0; i < live + silent; ++i) {
    const auto found = reachable.find(DeviceAddress(i));
    if (found != reachable.end() && found->second == nlohmann::json(i < live)) continue;
    if (figures.Wrong++ < 5)
      std::printf("    wrong: %s %s, got %s\n", DeviceAddress(i).c_str(),
                  i < live ? "answers" : "is silent",
                  found == reachable.end() ? "no record (not found by the scan)"
                                           : found->second.dump().c_str());
  }
  return figures;
}

struct TFpingFigures {
  int Wrong = 0;
  double Seconds = 0;
  int NeighboursBefore = 0;
  int NeighboursAfter = 0;
};

// fping over `addresses` from namespace `ns`; those before `live` should answer, the rest not.
TFpingFigures RunFping(TNetnsBed& bed, const std::string& ns,
                       const std::vector<std::string>& addresses, std::size_t live) {
  const std::string targets = "/tmp/scoutor-discover-ping-bench.targets";
  WriteTargets(targets, addresses);
  bed.Run(ns, "ip neigh flush dev eth0");
  TFpingFigures figures;
  figures.NeighboursBefore = NeighbourEntries(bed, ns);
  const auto start = TClock::now();
  const std::string alive =
      bed.Run(ns, "fping -a -r 0 -t 5000 -f " + targets + " 2>/dev/null; true");
  figures.Seconds = SecondsSince(start);
  figures.NeighboursAfter = NeighbourEntries(bed, ns);
  std::istringstream in(alive);
  std::map<std::string, bool> answered;
  for (std::string address; in >> address;) answered[address] = true;
  for (std::size_t i = 0; i < addresses.size(); ++i)
    if (answered.count(addresses[i]) != static_cast<std::size_t>(i < live)) ++figures.Wrong;
  return figures;
}

void PrintFping(const TFpingFigures& fping) {
  std::printf("  %-34s wrong %4d  time %7.2f s  neighbour entries %4d -> %4d\n",
              "fping -a -r 0 -t 5000", fping.Wrong, fping.Seconds, fping.NeighboursBefore,
              fping.NeighboursAfter);
}

// Real devices have neighbour tables of their own; simulated ones share the one table of this
// kernel with the pc, which a large check on the kernel's path fills. So the devices know the
// pc's link-layer address for good and never have to find room to resolve it again.
void KnowThePcForGood(TNetnsBed& bed, const std::string& ns, const std::string& pcMac) {
  bed.Run(ns, "ip neigh replace 10.60.0.1 lladdr " + pcMac + " dev eth0 nud permanent");
}

// The figures of the root run at one size, to compare sizes.
struct TSizeFigures {
  int Devices = 0;
  int PeakThreads = 0;
  int PeakDescriptors = 0;
};

TSizeFigures MeasureDiscover(int live, int silent, bool allModes) {
  TNetnsBed bed;
  const std::string segment = bed.AddSegment("lan");
  const std::string pc = bed.AddHost("pc");
  bed.Attach(pc, segment, "eth0", "10.60.0.1/16");
  // The run as nobody takes the unprivileged ICMP socket, which this lets it open.
  bed.Run(pc, "sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  std::string pcMac = bed.Run(pc, "ip -br link show dev eth0 | awk '{print $3}'");
  pcMac.erase(pcMac.find_last_not_of('\n') + 1);
  const std::string liveNs = bed.AddHost("live");
  bed.Attach(liveNs, segment, "eth0", "");
  KnowThePcForGood(bed, liveNs, pcMac);
  bed.Spawn(liveNs,
            {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(live), "--ip-base",
             DeviceAddress(0), "--mac-base", MacBase(1)},
            "/dev/null");
  WaitForListener(bed, liveNs);
  if (silent > 0) {
    const std::string silentNs = bed.AddHost("silent");
    bed.Attach(silentNs, segment, "eth0", "");
    bed.Run(silentNs, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    KnowThePcForGood(bed, silentNs, pcMac);
    bed.Spawn(silentNs,
              {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(silent), "--ip-base",
               DeviceAddress(live), "--mac-base", MacBase(1 + live)},
              "/dev/null");
    WaitForListener(bed, silentNs);
  }

  std::vector<TVepctlMode> modes = {{"vepctl, root", "", "", kRootRunLimitSeconds}};
  if (allModes) {
    modes.push_back({"vepctl, root, ulimit -n 256", "ulimit -n 256; ", "", kRootRunLimitSeconds});
    modes.push_back({"vepctl, nobody without capability", "",
                     "setpriv --reuid=65534 --regid=65534 --clear-groups ",
                     kNobodyRunLimitSeconds});
  }
  std::printf("%d devices, %d of them drop echo requests\n", live + silent, silent);
  TSizeFigures size{live + silent, 0, 0};
  double rootSeconds = 0;
  for (const TVepctlMode& mode : modes) {
    const TRunFigures ours = RunVepctl(bed, pc, live, silent, mode);
    const bool met = !ours.GaveUp && ours.Wrong == 0 && ours.CheckSeconds <= kCheckTargetSeconds;
    std::printf(
        "  %-34s wrong %4d  check %6.2f s%s  threads %d  fds %d  paths: link layer %d, "
        "kernel %d  neighbour entries %4d -> %4d  (target: every mark right, check <= "
        "%.0f s: %s)\n",
        mode.Label, ours.Wrong, ours.CheckSeconds, ours.GaveUp ? " (stopped)" : "",
        ours.PeakThreads, ours.PeakDescriptors, ours.LinkLayerChecks, ours.KernelChecks,
        ours.NeighboursBefore, ours.NeighboursAfter, kCheckTargetSeconds, Met(met).c_str());
    std::fflush(stdout);
    if (&mode == &modes.front()) {
      size.PeakThreads = ours.PeakThreads;
      size.PeakDescriptors = ours.PeakDescriptors;
      rootSeconds = ours.CheckSeconds;
    }
  }
  std::vector<std::string> addresses;
  for (int i = 0; i < live + silent; ++i) addresses.push_back(DeviceAddress(i));
  const TFpingFigures fping = RunFping(bed, pc, addresses, live);
  PrintFping(fping);
  std::printf("  vepctl as root / fping: %.2f\n", rootSeconds / fping.Seconds);
  std::fflush(stdout);
  return size;
}

struct TServiceFigures {
  int Wrong = 0;  // checks that did not end as not reachable
  double Seconds = 0;
  bool GaveUp = false;
  int LinkLayerChecks = 0;
  int KernelChecks = 0;
  int NeighboursAfter = 0;
};

// Checks every address at once with a reachability service in this process, inside `ns`.
TServiceFigures CheckInProcess(TNetnsBed& bed, const std::string& ns,
                               const std::vector<std::string>& addresses, bool linkLayer) {
  bed.Run(ns, "ip neigh flush dev eth0");
  TServiceFigures figures;
  bed.InNamespace(ns, [&] {
    scoutor::THeadlessLoop loop;
    scoutor::TReachabilityOptions options;
    options.LinkLayer = linkLayer;
    scoutor::TReachabilityService service(loop, options);
    std::size_t ended = 0;
    const auto start = TClock::now();
    for (const std::string& address : addresses)
      service.Check(address, [&](const scoutor::TCheckResult& result) {
        ++ended;
        if (result.Outcome != scoutor::TReachability::NotReachable) ++figures.Wrong;
        ++(result.Path == scoutor::TCheckPath::LinkLayer ? figures.LinkLayerChecks
                                                         : figures.KernelChecks);
      });
    figures.GaveUp = !loop.RunUntil([&] { return ended == addresses.size(); }, kFreeRunLimitMs);
    figures.Seconds = SecondsSince(start);
  });
  figures.NeighboursAfter = NeighbourEntries(bed, ns);
  return figures;
}

// Addresses that nobody holds: every check must wait out its ARP tries.
void MeasureFreeAddresses() {
  TNetnsBed bed;
  const std::string segment = bed.AddSegment("lan");
  const std::string pc = bed.AddHost("pc");
  bed.Attach(pc, segment, "eth0", "10.62.0.1/16");
  std::vector<std::string> addresses;
  for (int i = 0; i < kFreeAddresses; ++i) addresses.push_back(AddressIn("10.62", i));
  std::printf(
      "%d addresses that nobody holds, checked at once by the reachability service in "
      "this process\n",
      kFreeAddresses);
  for (const bool linkLayer : {true, false}) {
    const TServiceFigures ours = CheckInProcess(bed, pc, addresses, linkLayer);
    const bool met = !ours.GaveUp && ours.Wrong == 0 && ours.Seconds <= kFreeTargetSeconds;
    std::printf(
        "  %-34s wrong %4d  time %7.2f s%s  paths: link layer %d, kernel %d  neighbour "
        "entries    0 -> %4d  (target <= %.0f s: %s)\n",
        linkLayer ? "service, link layer allowed" : "service, kernel's path only", ours.Wrong,
        ours.Seconds, ours.GaveUp ? " (stopped)" : "", ours.LinkLayerChecks, ours.KernelChecks,
        ours.NeighboursAfter, kFreeTargetSeconds, Met(met).c_str());
    std::fflush(stdout);
  }
  PrintFping(RunFping(bed, pc, addresses, 0));
  std::fflush(stdout);
}

void MeasureAutoIP() {
  TNetnsBed bed;
  const std::string segment = bed.AddSegment("lan");
  const std::string host = bed.AddHost("host");
  bed.Attach(host, segment, "eth0", "10.61.0.1/24");
  const std::string silent = bed.AddHost("silent");
  bed.Attach(silent, segment, "eth0", "");
  bed.Run(silent, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
  std::string batch;
  for (int number = 2; number <= 201; ++number)
    batch += "addr add 10.61.0." + std::to_string(number) + "/24 dev eth0\n";
  bed.Run(silent, "printf '" + batch + "' | ip -batch -");
  std::string chosen;
  double seconds = 0;
  bed.InNamespace(host, [&] {
    std::string mask, gateway;
    const auto start = TClock::now();
    if (!scoutor::ChooseIPAddress("10.61.0.1", chosen, mask, gateway)) chosen = "(none)";
    seconds = SecondsSince(start);
  });
  std::printf(
      "Auto IP in 10.61.0.0/24, 200 hosts from .2 drop echo requests but hold their "
      "addresses:\n  chose %s (right: 10.61.0.202) in %.2f s = %.2f check time-outs\n",
      chosen.c_str(), seconds, seconds / 5.0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string why = TNetnsBed::Unavailable();
  if (!why.empty()) {
    std::printf("discover_ping_bench: skipped, needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::printf(
      "vepctl -d discover --ping --wait %d; check = its run less the %d s scan; fping "
      "-a -r 0 -t 5000 over the same addresses\n",
      kScanWaitMs, kScanWaitMs / 1000);
  const TSizeFigures small = MeasureDiscover(1000, 0, false);
  if (!quick) {
    const TSizeFigures large = MeasureDiscover(4000, 1000, true);
    // Descriptors are sampled every 10 ms, so one short-lived descriptor may be seen or not.
    const bool independent = large.PeakThreads <= small.PeakThreads &&
                             large.PeakDescriptors <= small.PeakDescriptors + 1;
    std::printf("peak threads %d / %d, descriptors %d / %d at %d / %d devices: %s\n",
                small.PeakThreads, large.PeakThreads, small.PeakDescriptors, large.PeakDescriptors,
                small.Devices, large.Devices,
                independent ? "independent of the number of devices" : "they grow with it");
  }
  MeasureFreeAddresses();
  MeasureAutoIP();
  return 0;
}
