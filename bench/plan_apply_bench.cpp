// vepctl set-ip --plan over 500 simulated devices, inside private network namespaces:
//   pc 10.0.0.1/16 (default route via 10.0.0.254, which does not exist) -- segment -- crowd
//   10.0.0.2/16, where one vepsim plays all 500 devices
// Every run moves all 500 devices to a subnet of its own (10.20.0.0/16, 10.21.0.0/16, ...), so
// each device is really changed: set-IP, acknowledgement, get-IP, comparison. For in-flight
// limits of 1, 16 and 64 (with --force: the check phase is then one scan that ends as soon as
// all 500 have answered) the median of five runs: the whole run, the run less the time of the
// same check alone (a --dry-run), the most devices that were under way at once (as vepctl
// reports it), devices per second and the speed-up over one at a time. Every run must report
// 500 applied and 0 failed, and the simulator's log must show 500 set-IPs into the run's
// subnet. Then the same with devices that take 5 ms for each answer (vepsim --delay 5), as
// real devices do, where one at a time waits out every delay. Last, one run with the in-use
// checks (no --force): the 500 addresses are pinged during the scan, so it costs about one
// check time-out (5 s) more. Takes about a minute.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/NetnsBed.h"

namespace {

using scoutor::test::TNetnsBed;
using TClock = std::chrono::steady_clock;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kDevices = 500;
constexpr int kRepeats = 5;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

std::string DeviceID(int i) {
  char text[18];
  std::snprintf(text, sizeof text, "02:00:00:02:%02X:%02X", i / 256, i % 256);
  return text;
}

// Device i's address in the subnet of run `run`: 10.(20+run).1.0 upwards.
std::string PlannedAddress(int run, int i) {
  const int host = 256 + i;
  return "10." + std::to_string(20 + run) + "." + std::to_string(host / 256) + "." +
         std::to_string(host % 256);
}

void WaitForListener(TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 3000; ++i) {
    if (!bed.Run(ns, "ss -Huan 'sport = :17784'").empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

class TPlanBench {
 public:
  explicit TPlanBench(int replyDelayMs) {
    const std::string segment = Bed.AddSegment("lan");
    Pc = Bed.AddHost("pc");
    Bed.Attach(Pc, segment, "eth0", "10.0.0.1/16");
    Bed.Run(Pc, "ip route add default via 10.0.0.254");
    std::remove(Log.c_str());
    const std::string crowd = Bed.AddHost("crowd");
    Bed.Attach(crowd, segment, "eth0", "10.0.0.2/16");
    Bed.Spawn(crowd,
              {kVepsim, "--count", std::to_string(kDevices), "--ip-base", "10.0.1.0", "--mac-base",
               DeviceID(0), "--delay", std::to_string(replyDelayMs)},
              Log);
    WaitForListener(Bed, crowd);
  }

  ~TPlanBench() {
    std::remove(Plan.c_str());
    std::remove(Log.c_str());
  }

  struct TFigures {
    double Seconds = 0;
    int MostInFlight = 0;
    bool Right = false;  // 500 applied, none failed, 500 set-IPs seen by the devices
  };

  // One vepctl run of a plan that moves every device into the next run's subnet.
  TFigures Apply(const std::string& options) {
    const int run = Runs++;
    WritePlan(run);
    const auto start = TClock::now();
    const std::string output = Bed.Run(
        Pc, kVepctl + " --json set-ip --plan " + Plan + " " + options + " 2>/dev/null; true");
    TFigures figures;
    figures.Seconds = SecondsSince(start);
    std::istringstream lines(output);
    nlohmann::json summary;
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) summary = nlohmann::json::parse(line, nullptr, false);
    figures.MostInFlight = summary.value("most_in_flight", 0);
    figures.Right = summary.value("applied", 0) == kDevices && summary.value("failed", -1) == 0 &&
                    SetIPsSeen(run) == kDevices;
    return figures;
  }

  // The check phase alone, as the runs of Apply make it; negative unless the plan was good.
  double CheckOnly(const std::string& options) {
    WritePlan(Runs);
    const auto start = TClock::now();
    const std::string output = Bed.Run(
        Pc, kVepctl + " set-ip --plan " + Plan + " --dry-run " + options + " 2>/dev/null; true");
    const double seconds = SecondsSince(start);
    return output == "plan OK: " + std::to_string(kDevices) + " devices\n" ? seconds : -1;
  }

 private:
  void WritePlan(int run) const {
    std::ofstream file(Plan);
    file << "id,dhcp,ip,mask,gateway\n";
    for (int i = 0; i < kDevices; ++i)
      file << DeviceID(i) << ",0," << PlannedAddress(run, i) << ",255.255.0.0,0.0.0.0\n";
  }

  // How many devices the simulator logged as set into the subnet of `run`.
  int SetIPsSeen(int run) const {
    const std::string mark = " set to static: 10." + std::to_string(20 + run) + ".";
    std::ifstream log(Log);
    int count = 0;
    for (std::string line; std::getline(log, line);)
      if (line.find(mark) != std::string::npos) ++count;
    return count;
  }

  const std::string Log = "/tmp/scoutor-plan-apply-bench.log";
  const std::string Plan = "/tmp/scoutor-plan-apply-bench.csv";
  TNetnsBed Bed;
  std::string Pc;
  int Runs = 0;
};

// One table: the check alone, then each in-flight limit.
void MeasureLimits(TPlanBench& bench) {
  std::vector<double> checks;
  for (int i = 0; i < kRepeats; ++i) checks.push_back(bench.CheckOnly("--force"));
  const double check = Median(checks);
  std::printf("  check alone (--dry-run --force, one scan until all have answered): %.3f s%s\n",
              check, *std::min_element(checks.begin(), checks.end()) < 0 ? " (a run FAILED)" : "");
  std::printf("  %9s %12s %8s %8s %10s %9s %6s\n", "in-flight", "most reached", "total s",
              "apply s", "devices/s", "speed-up", "right");
  double oneAtATime = 0;
  for (const int limit : {1, 16, 64}) {
    std::vector<double> totals;
    int most = 0;
    bool right = true;
    for (int i = 0; i < kRepeats; ++i) {
      const auto figures = bench.Apply("--force --in-flight " + std::to_string(limit));
      totals.push_back(figures.Seconds);
      most = std::max(most, figures.MostInFlight);
      right = right && figures.Right;
    }
    const double total = Median(totals);
    const double apply = std::max(total - check, 1e-3);
    if (limit == 1) oneAtATime = apply;
    std::printf("  %9d %12d %8.3f %8.3f %10.0f %9.1f %6s\n", limit, most, total, apply,
                kDevices / apply, oneAtATime / apply, right ? "yes" : "NO");
    std::fflush(stdout);
  }
}

}  // namespace

int main() {
  const std::string why = TNetnsBed::Unavailable();
  if (!why.empty()) {
    std::printf("plan_apply_bench: skipped, needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }
  std::printf("vepctl set-ip --plan, %d devices applied and read back (median of %d runs)\n",
              kDevices, kRepeats);
  {
    std::printf("devices that answer at once:\n");
    TPlanBench bench(0);
    MeasureLimits(bench);
    const auto checked = bench.Apply("");
    std::printf(
        "  with the in-use checks (no --force, in-flight 16): total %.3f s, most "
        "reached %d, right: %s\n",
        checked.Seconds, checked.MostInFlight, checked.Right ? "yes" : "NO");
  }
  std::printf("devices that take 5 ms for each answer:\n");
  TPlanBench slow(5);
  MeasureLimits(slow);
  return 0;
}
