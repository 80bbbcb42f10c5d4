// vepctl discover --ping over many simulated devices against fping over the same addresses, in
// the same run, inside private network namespaces:
//   pc 10.60.0.1/16 -- segment -- "live" (devices that answer pings)
//                              -- "silent" (devices that hold their addresses, answer ARP and
//                                 discovery, but drop echo requests)
// For each size: whether every result is right (live: reachable, silent: not reachable), the
// check phase of vepctl (its run less the scan's fixed listening time) divided by fping's time
// (one request per address, 5 s time-out), and vepctl's peak threads and open descriptors
// (read from /proc/<pid> while it runs). The neighbour cache is flushed before every run.
// Then Auto IP in a /24 where 200 hosts drop echo requests but hold their addresses.
// The 5000-device runs go in waves: Linux keeps each resolved neighbour entry for 15-45 s and
// has room for gc_thresh3 (1024) of them, so they take minutes (about 10 for the whole run).
// Usage: discover_ping_bench [--quick]   (--quick: the 1000-device run and Auto IP only)
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
#include "tests/support/NetnsBed.h"

namespace {

using scoutor::test::TNetnsBed;
using TClock = std::chrono::steady_clock;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kScanWaitMs = 3000;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// 10.60.x.y for device number i (from 0): 10.60.1.0 upwards.
std::string DeviceAddress(int i) {
  const int host = 256 + i;
  return "10.60." + std::to_string(host / 256) + "." + std::to_string(host % 256);
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

void WaitForListener(TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 3000; ++i) {
    if (!bed.Run(ns, "ss -Huan 'sport = :17784'").empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

struct TRunFigures {
  int Wrong = 0;  // results missing or not as expected
  double CheckSeconds = 0;
  int PeakThreads = 0;
  int PeakDescriptors = 0;
};

// One vepctl discover --ping in the pc namespace, watched from outside.
TRunFigures RunVepctl(TNetnsBed& bed, const std::string& pc, int live, int silent,
                      const std::string& limit) {
  bed.Run(pc, "ip neigh flush dev eth0");
  const std::string log = "/tmp/scoutor-discover-ping-bench.json";
  const auto start = TClock::now();
  const pid_t pid =
      bed.Spawn(pc,
                {"sh", "-c",
                 limit + "exec " + kVepctl + " --json discover --ping --wait " +
                     std::to_string(kScanWaitMs) + " 2>/dev/null"},
                log);
  TRunFigures figures;
  int status = 0;
  // Bounded: ten minutes at most.
  for (int i = 0; i < 60000 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    figures.PeakThreads = std::max(figures.PeakThreads, ThreadsOf(pid));
    figures.PeakDescriptors =
        std::max(figures.PeakDescriptors, CountEntries("/proc/" + std::to_string(pid) + "/fd"));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  figures.CheckSeconds = SecondsSince(start) - kScanWaitMs / 1000.0;

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
      std::printf("  wrong: %s %s, got %s\n", DeviceAddress(i).c_str(),
                  i < live ? "answers" : "is silent",
                  found == reachable.end() ? "no record (not found by the scan)"
                                           : found->second.dump().c_str());
  }
  return figures;
}

struct TFpingFigures {
  int Wrong = 0;
  double Seconds = 0;
};

TFpingFigures RunFping(TNetnsBed& bed, const std::string& pc, int live, int silent) {
  const std::string targets = "/tmp/scoutor-discover-ping-bench.targets";
  {
    std::ofstream file(targets);
    for (int i = 0; i < live + silent; ++i) file << DeviceAddress(i) << '\n';
  }
  bed.Run(pc, "ip neigh flush dev eth0");
  TFpingFigures figures;
  const auto start = TClock::now();
  const std::string alive = bed.Run(pc, "fping -a -r 0 -t 5000 -f " + targets + " 2>/dev/null; true");
  figures.Seconds = SecondsSince(start);
  std::istringstream in(alive);
  std::map<std::string, bool> answered;
  for (std::string address; in >> address;) answered[address] = true;
  for (int i = 0; i < live + silent; ++i)
    if (answered.count(DeviceAddress(i)) != static_cast<std::size_t>(i < live)) ++figures.Wrong;
  return figures;
}

// Real devices have neighbour tables of their own; simulated ones share the one table of this
// kernel with the pc, which a large check fills. So the devices know the pc's link-layer
// address for good and never have to find room to resolve it again.
void KnowThePcForGood(TNetnsBed& bed, const std::string& ns, const std::string& pcMac) {
  bed.Run(ns, "ip neigh replace 10.60.0.1 lladdr " + pcMac + " dev eth0 nud permanent");
}

void MeasureDiscover(int live, int silent, const std::string& limit) {
  TNetnsBed bed;
  const std::string segment = bed.AddSegment("lan");
  const std::string pc = bed.AddHost("pc");
  bed.Attach(pc, segment, "eth0", "10.60.0.1/16");
  std::string pcMac = bed.Run(pc, "ip -br link show dev eth0 | awk '{print $3}'");
  pcMac.erase(pcMac.find_last_not_of('\n') + 1);
  const std::string liveNs = bed.AddHost("live");
  bed.Attach(liveNs, segment, "eth0", "");
  KnowThePcForGood(bed, liveNs, pcMac);
  bed.Spawn(liveNs, {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(live),
                     "--ip-base", DeviceAddress(0), "--mac-base", MacBase(1)},
            "/dev/null");
  WaitForListener(bed, liveNs);
  if (silent > 0) {
    const std::string silentNs = bed.AddHost("silent");
    bed.Attach(silentNs, segment, "eth0", "");
    bed.Run(silentNs, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
    KnowThePcForGood(bed, silentNs, pcMac);
    bed.Spawn(silentNs, {kVepsim, "--hold-addresses", "eth0", "--count", std::to_string(silent),
                         "--ip-base", DeviceAddress(live), "--mac-base", MacBase(1 + live)},
              "/dev/null");
    WaitForListener(bed, silentNs);
  }
  const TRunFigures ours = RunVepctl(bed, pc, live, silent, limit);
  const TFpingFigures fping = RunFping(bed, pc, live, silent);
  std::printf("%5d %6d %-11s | %5d %8.2f %5d %5d | %8.2f %5d | %6.2f\n", live + silent, silent,
              limit.empty() ? "-" : "ulimit 256", ours.Wrong, ours.CheckSeconds, ours.PeakThreads,
              ours.PeakDescriptors, fping.Seconds, fping.Wrong, ours.CheckSeconds / fping.Seconds);
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
  std::printf("Auto IP in 10.61.0.0/24, 200 hosts from .2 drop echo requests but hold their "
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
  std::printf("vepctl discover --ping against fping -r 0 -t 5000 over the same addresses\n");
  std::printf("%5s %6s %-11s | %5s %8s %5s %5s | %8s %5s | %6s\n", "N", "silent", "limit",
              "wrong", "check s", "thr", "fds", "fping s", "wrong", "ratio");
  MeasureDiscover(1000, 0, "");
  if (!quick) {
    MeasureDiscover(4000, 1000, "");
    MeasureDiscover(4000, 1000, "ulimit -n 256; ");
  }
  MeasureAutoIP();
  return 0;
}
