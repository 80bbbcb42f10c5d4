// The protocol engine against simulated devices in private network namespaces.
//
// Scans: N devices (10, 100, 1000), half on each of two segments, answering after a random
// 0-50 ms. One scan is five discovery broadcasts 500 ms apart, then 600 ms for late replies;
// printed: the devices found and the time from the first broadcast to the first event of the
// last device found (3 scans for 10 and 100 devices, 10 for 1000).
//
// Throughput: discovery replies sent to the engine's socket from a neighbour namespace, at most
// 128 in flight; printed: datagrams raised as vepDeviceFound events per second on a headless
// main loop, from the first event to the last (target: at least 50,000 a second); and, for
// comparison, the rate of HandleDatagram alone, fed the same reply directly.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/VEPEngine.h"
#include "runtime/HeadlessLoop.h"
#include "tests/support/NetnsBed.h"

namespace {

using namespace scoutor;
using TClock = std::chrono::steady_clock;

const std::string kVepsim = SCOUTOR_BINARY_DIR "/tools/vepsim/vepsim";

double MsBetween(TClock::time_point from, TClock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

void WaitForListener(test::TNetnsBed& bed, const std::string& ns) {
  for (int i = 0; i < 1000; ++i) {
    if (bed.Run(ns, "ss -Huan").find(":17784") != std::string::npos) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("no simulator listens in " + ns);
}

// ---- scans ----

std::map<std::string, TClock::time_point>* FirstSeen = nullptr;

void RecordDevice(std::uint32_t event, void* record) {
  if (event != vepDeviceFound) return;
  FirstSeen->emplace(static_cast<TVEPDeviceEvent*>(record)->ID, TClock::now());
}

void ScanBench(int devices, int scans) {
  test::TNetnsBed bed;
  const std::string a = bed.AddSegment("a");
  const std::string b = bed.AddSegment("b");
  const std::string pc = bed.AddHost("pc");
  bed.Attach(pc, a, "eth0", "10.0.0.1/16");
  bed.Attach(pc, b, "eth1", "10.1.0.1/16");
  const std::string simA = bed.AddHost("sima");
  const std::string simB = bed.AddHost("simb");
  bed.Attach(simA, a, "eth0", "10.0.0.2/16");
  bed.Attach(simB, b, "eth0", "10.1.0.2/16");
  const std::string half = std::to_string(devices / 2);
  bed.Spawn(simA, {kVepsim, "--count", half, "--mac-base", "02:00:00:00:00:01", "--ip-base",
                   "10.0.1.1", "--jitter", "50"});
  bed.Spawn(simB, {kVepsim, "--count", std::to_string(devices - devices / 2), "--mac-base",
                   "02:00:00:01:00:01", "--ip-base", "10.1.1.1", "--jitter", "50"});
  WaitForListener(bed, simA);
  WaitForListener(bed, simB);

  std::vector<std::size_t> found, foundFirst;
  std::vector<double> lastMs;
  bed.InNamespace(pc, [&] {
    THeadlessLoop loop;
    TMainLoopScope scope(loop);
    TVEP engine;
    engine.SetApplicationCallback(&RecordDevice, 0);
    for (int scan = 0; scan < scans; ++scan) {
      std::map<std::string, TClock::time_point> seen;
      FirstSeen = &seen;
      const auto start = TClock::now();
      for (int broadcast = 0; broadcast < 5; ++broadcast) {
        engine.SendDiscover();
        loop.RunUntil([&] { return MsBetween(start, TClock::now()) >= 500.0 * (broadcast + 1); },
                      600);
      }
      loop.RunFor(600);
      FirstSeen = nullptr;
      double last = 0;
      std::size_t first = 0;
      for (const auto& [id, at] : seen) {
        last = std::max(last, MsBetween(start, at));
        if (MsBetween(start, at) < 500) ++first;
      }
      found.push_back(seen.size());
      foundFirst.push_back(first);
      lastMs.push_back(last);
      loop.RunFor(200);  // nothing of this scan is left over for the next
    }
  });
  std::printf("scan of %d devices on two segments, 0-50 ms jitter (%d scans):\n", devices,
              scans);
  for (std::size_t i = 0; i < found.size(); ++i)
    std::printf("  %zu found (%zu after the first broadcast), last one at %.0f ms\n", found[i],
                foundFirst[i], lastMs[i]);
  std::fflush(stdout);
}

// ---- throughput ----

std::atomic<std::uint64_t> Handled{0};
TClock::time_point FirstEvent, LastEvent;

void CountDevice(std::uint32_t event, void*) {
  if (event != vepDeviceFound) return;
  const auto now = TClock::now();
  if (Handled.load(std::memory_order_relaxed) == 0) FirstEvent = now;
  LastEvent = now;
  Handled.fetch_add(1, std::memory_order_release);
}

void ThroughputBench(std::uint64_t count) {
  constexpr std::uint64_t kWindow = 128;
  test::TNetnsBed bed;
  const std::string pc = bed.AddHost("pc");
  const std::string flood = bed.AddHost("flood");
  bed.Link(pc, "eth0", "10.2.0.1/24", flood, "eth0", "10.2.0.2/24");

  // A discovery reply to the host 10.2.0.1 from 00:0A:1B:2C:3D:4E: name AP-1, type Bridge.
  const std::uint8_t reply[] = {0x00, 0x02, 0x0A, 0x02, 0x00, 0x01, 0x45, 0x78, 0x00, 0x01,
                                0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x01, 0x00, 0xC0, 0x01,
                                0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x02, 0x04, 0x41,
                                0x50, 0x2D, 0x31, 0x03, 0x06, 0x42, 0x72, 0x69, 0x64, 0x67,
                                0x65};
  std::atomic<bool> ready{false};
  std::atomic<bool> sendingDone{false};
  std::uint64_t sent = 0;
  Handled = 0;
  // The engine's own share: the same reply handed to HandleDatagram directly.
  bed.InNamespace(pc, [&] {
    THeadlessLoop loop;
    TMainLoopScope scope(loop);
    TVEP engine;
    engine.SetApplicationCallback(&CountDevice, 0);
    TSocketBinding binding;
    binding.IP = "0.0.0.0";
    binding.RemoteIP = "10.2.0.2";
    constexpr int kCalls = 1000000;
    const auto start = TClock::now();
    for (int i = 0; i < kCalls; ++i) {
      TByteStream data(reply, sizeof reply);
      engine.HandleDatagram(engine.Endpoint(), data, binding);
    }
    const double seconds = MsBetween(start, TClock::now()) / 1000.0;
    std::printf("decoding and dispatch alone: %d replies in %.2f s = %.0f a second\n", kCalls,
                seconds, kCalls / seconds);
    std::fflush(stdout);
  });
  Handled = 0;

  std::thread engineSide([&] {
    bed.InNamespace(pc, [&] {
      THeadlessLoop loop;
      TMainLoopScope scope(loop);
      TVEP engine;
      engine.SetApplicationCallback(&CountDevice, 0);
      engine.SendDiscover();  // opens the endpoint
      ready = true;
      // Until every datagram was handled, or sending ended and nothing came for 500 ms (the
      // socket dropped some).
      std::uint64_t before = 0;
      for (int i = 0; i < 1200 && Handled.load() < count; ++i) {
        before = Handled.load();
        loop.RunUntil([&] { return Handled.load() >= count; }, 500);
        if (sendingDone && Handled.load() == before) break;
      }
    });
  });
  while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  bed.InNamespace(flood, [&] {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kVEPPort);
    inet_pton(AF_INET, "10.2.0.1", &to.sin_addr);
    const auto deadline = TClock::now() + std::chrono::seconds(60);
    while (sent < count && TClock::now() < deadline) {
      if (sent - Handled.load(std::memory_order_acquire) >= kWindow) {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        continue;
      }
      if (sendto(fd, reply, sizeof reply, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
          static_cast<ssize_t>(sizeof reply))
        ++sent;
    }
    close(fd);
  });
  sendingDone = true;
  engineSide.join();
  const std::uint64_t handled = Handled.load();
  const double seconds = MsBetween(FirstEvent, LastEvent) / 1000.0;
  std::printf("throughput, socket to callback: %llu sent, %llu events in %.2f s = %.0f a second\n",
              static_cast<unsigned long long>(sent), static_cast<unsigned long long>(handled),
              seconds, seconds > 0 ? static_cast<double>(handled - 1) / seconds : 0.0);
  std::fflush(stdout);
}

}  // namespace

int main() {
  const std::string why = test::TNetnsBed::Unavailable();
  if (!why.empty()) {
    std::printf("engine_bench needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }
  try {
    ScanBench(10, 3);
    ScanBench(100, 3);
    ScanBench(1000, 10);
    ThroughputBench(200000);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "engine_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
