// vepctl upgrade --all of 100 simulated devices with a 1 MB image, one upload at a time against
// eight at a time, inside private network namespaces:
//   pc 10.80.0.1/16 -- segment -- "devices" (vepsim holds 10.80.1.0 upwards and takes the
//                                 uploads by TFTP on each address, restarting at once)
// For each run: the whole run's time, the time after the scan (its fixed listening time taken
// off), how many devices were upgraded and how many stored files differ from the image; then
// the ratio of the two times. Both processes share the machine's cores. Asserts nothing.
//
// Both once with devices as fast as the simulator goes and once with devices that take
// block-write-ms to write each block (vepsim --write-ms), as devices writing their flash do.
//
// Usage: fleet_upgrade_bench [rounds (1)] [devices (100)] [kilobytes (1000)] [block-write-ms (1)]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/NetnsBed.h"

namespace {

using scoutor::test::TNetnsBed;
using TClock = std::chrono::steady_clock;

const std::string kVepctl = SCOUTOR_BINARY_DIR "/tools/vepctl/vepctl";
const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";
constexpr int kScanWaitMs = 2000;
constexpr const char* kMacBase = "02:00:00:50:00:00";

struct TRunFigures {
  double Seconds = 0;
  int Upgraded = 0;
  int Differing = 0;   // devices whose stored file is missing or not the image
  bool Ended = false;  // not stopped by the time limit
};

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The stored file of device i: its hardware address, upper case, joined by '-'.
std::string StoredName(int i) {
  const int mac = 0x500000 + i;
  char name[32];
  std::snprintf(name, sizeof name, "02-00-00-%02X-%02X-%02X.bin", (mac >> 16) & 0xFF,
                (mac >> 8) & 0xFF, mac & 0xFF);
  return name;
}

TRunFigures RunUpgrade(TNetnsBed& bed, const std::string& pc, const std::string& image,
                       const std::string& stored, const std::string& log, int devices,
                       int parallel) {
  std::filesystem::remove_all(stored);
  std::filesystem::create_directory(stored);
  TRunFigures figures;
  const auto start = TClock::now();
  // Bounded: a device that is not heard again ends after 30 s, the whole run after 10 min.
  const std::string output =
      bed.Run(pc, "timeout 600 " + kVepctl + " --json upgrade " + image + " --all --parallel " +
                      std::to_string(parallel) + " --verify-timeout 30 --wait " +
                      std::to_string(kScanWaitMs) + " 2>>" + log + "; echo exit=$?");
  figures.Ended = output.find("exit=124") == std::string::npos;
  figures.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_object() && record.value("status", "") == "ok") ++figures.Upgraded;
  }
  const std::string bytes = FileBytes(image);
  for (int i = 0; i < devices; ++i)
    if (FileBytes(stored + "/" + StoredName(i)) != bytes) ++figures.Differing;
  return figures;
}

// Waits (bounded: 5 s) until the simulator's devices take uploads.
bool WaitForTftpPorts(TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 500; ++i) {
    if (!bed.Run(ns, "ss -Huan 'sport = :69'").empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const int devices = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 250) : 100;
  const int kilobytes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1000;
  const double blockWriteMs = argc > 4 ? std::clamp(std::atof(argv[4]), 0.0, 1000.0) : 1.0;
  if (const std::string why = TNetnsBed::Unavailable(); !why.empty()) {
    std::printf("fleet_upgrade_bench skipped: needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }

  char pattern[] = "/tmp/scoutor-fleet-bench-XXXXXX";
  const std::string root = mkdtemp(pattern);
  const std::string image = root + "/image.bin";
  const std::string stored = root + "/stored";
  const std::string log = root + "/vepctl.log";
  {
    std::string bytes(static_cast<std::size_t>(kilobytes) * 1000, '\0');
    std::mt19937 random(1);
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::ofstream(image, std::ios::binary) << bytes;
  }
  std::filesystem::create_directory(stored);

  int status = 0;
  {
    TNetnsBed bed;
    const std::string segment = bed.AddSegment("lan");
    const std::string pc = bed.AddHost("pc");
    bed.Attach(pc, segment, "eth0", "10.80.0.1/16");
    const std::string devicesNs = bed.AddHost("devices");
    bed.Attach(devicesNs, segment, "eth0", "");
    std::printf(
        "vepctl upgrade --all: %d simulated devices, a %d kB image, scan %d ms, %d round%s\n",
        devices, kilobytes, kScanWaitMs, rounds, rounds == 1 ? "" : "s");
    std::string load;
    std::getline(std::ifstream("/proc/loadavg"), load);
    std::printf("load average at start: %s (%u CPUs)\n", load.c_str(),
                std::thread::hardware_concurrency());
    // Devices as fast as the simulator answers, where both programs share the machine's cores,
    // and devices that take time to write each block to their flash, as real ones do.
    for (const double writeMs : {0.0, blockWriteMs}) {
      const pid_t simulator = bed.Spawn(
          devicesNs,
          {kVepsim, "--hold-addresses", "eth0", "--tftp", stored, "--count",
           std::to_string(devices), "--ip-base", "10.80.1.0", "--mask", "255.255.0.0",
           "--mac-base", kMacBase, "--write-ms", std::to_string(writeMs)},
          root + "/vepsim.log");
      if (!WaitForTftpPorts(bed, devicesNs)) {
        std::printf("fleet_upgrade_bench: vepsim did not start\n");
        status = 1;
        break;
      }
      std::printf("\ndevices write each block in %.2f ms\n", writeMs);
      std::printf("%-9s %6s %10s %12s %9s %9s\n", "parallel", "round", "total s", "after scan s",
                  "upgraded", "differing");
      const std::vector<int> widths = {1, 8};
      std::vector<std::vector<double>> totals(widths.size());
      for (int round = 0; round < rounds; ++round) {
        for (std::size_t w = 0; w < widths.size(); ++w) {
          const TRunFigures figures = RunUpgrade(bed, pc, image, stored, log, devices, widths[w]);
          std::printf("%-9d %6d %10.2f %12.2f %9d %9d%s\n", widths[w], round + 1,
                      figures.Seconds, figures.Seconds - kScanWaitMs / 1000.0, figures.Upgraded,
                      figures.Differing, figures.Ended ? "" : "  (did not end)");
          std::fflush(stdout);
          if (figures.Upgraded != devices || figures.Differing != 0) status = 1;
          totals[w].push_back(figures.Seconds);
        }
      }
      const double serial = Median(totals[0]);
      const double parallel = Median(totals[1]);
      const double scan = kScanWaitMs / 1000.0;
      std::printf(
          "median total: --parallel 1 %.2f s, --parallel 8 %.2f s; ratio %.2f "
          "(after the scan: %.2f s, %.2f s; ratio %.2f)\n",
          serial, parallel, serial / parallel, serial - scan, parallel - scan,
          (serial - scan) / (parallel - scan));
      bed.Stop(simulator);
    }
  }
  std::filesystem::remove_all(root);
  return status;
}
