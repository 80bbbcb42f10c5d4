// Auto IP in a /24 with 0, 50 and 200 addresses in use right above the host's own: total time
// of ChooseIPAddress against its floor, one check time-out (5 s) for the free address it
// chooses plus one echo round trip per busy address it tries first. The round trip is measured
// in the same run (median of in-process checks to a busy address with its neighbour entry
// resolved); the choice itself runs with an empty neighbour cache, as after a fresh start.
// On a directly attached segment the check of a free address usually ends before its time-out:
// the kernel gives up resolving the neighbour and answers the echo with a host-unreachable of
// its own. So a second floor uses the measured time of one check of a free address instead.
// The floors are the cost of checking the candidates one by one; the choice checks up to 32 at
// a time, so its busy addresses cost less than their round trips added up.
// Runs inside private network namespaces: a host and a "busy" namespace holding the addresses
// in use, on one segment. Takes about four check times (roughly 10-20 s).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "hostnet/AddressChoice.h"
#include "hostnet/Reachability.h"
#include "tests/support/NetnsBed.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr double CheckTimeoutSeconds = 5.0;
constexpr int RoundTripSamples = 21;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

std::string HostAddress(int number) { return "10.77.0." + std::to_string(number); }

// Median round trip of one check to `address`, in seconds; negative when a check went
// unanswered.
double MedianRoundTrip(const std::string& address) {
  std::vector<double> samples;
  scoutor::PingAddress(address);  // resolves the neighbour once, outside the figures
  for (int i = 0; i < RoundTripSamples; ++i) {
    const auto start = TClock::now();
    if (!scoutor::PingAddress(address)) return -1.0;
    samples.push_back(SecondsSince(start));
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Time of one check of an address nobody holds, with an empty neighbour cache, in seconds;
// negative when it was answered.
double FreeCheck(scoutor::test::TNetnsBed& bed, const std::string& host,
                 const std::string& address) {
  bed.Run(host, "ip neigh flush dev eth0");
  return bed.InNamespace(host, [&] {
    const auto start = TClock::now();
    const bool answered = scoutor::PingAddress(address);
    return answered ? -1.0 : SecondsSince(start);
  });
}

struct TOutcome {
  bool Chosen = false;
  std::string Address;
  double RoundTrip = 0.0;  // seconds, 0 when no address is busy
  double Total = 0.0;      // seconds
};

// Puts `busyCount` addresses right above the host's own into the busy namespace, then measures
// the round trip and one address choice from the host namespace.
TOutcome MeasureOnce(scoutor::test::TNetnsBed& bed, const std::string& host,
                     const std::string& busy, int busyCount) {
  bed.Run(busy, "ip addr flush dev eth0");
  if (busyCount > 0) {
    std::string batch;
    for (int number = 2; number <= busyCount + 1; ++number)
      batch += "addr add " + HostAddress(number) + "/24 dev eth0\n";
    bed.Run(busy, "printf '" + batch + "' | ip -batch -");
  }
  TOutcome outcome;
  if (busyCount > 0)
    outcome.RoundTrip = bed.InNamespace(host, [] { return MedianRoundTrip("10.77.0.2"); });
  bed.Run(host, "ip neigh flush dev eth0");
  bed.InNamespace(host, [&] {
    std::string mask;
    std::string gateway;
    const auto start = TClock::now();
    outcome.Chosen = scoutor::ChooseIPAddress("10.77.0.1", outcome.Address, mask, gateway);
    outcome.Total = SecondsSince(start);
  });
  return outcome;
}

}  // namespace

int main() {
  const std::string why = scoutor::test::TNetnsBed::Unavailable();
  if (!why.empty()) {
    std::printf("autoip_bench: skipped, needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }

  scoutor::test::TNetnsBed bed;
  const std::string segment = bed.AddSegment("lan");
  const std::string host = bed.AddHost("host");
  const std::string busy = bed.AddHost("busy");
  bed.Attach(host, segment, "eth0", "10.77.0.1/24");
  bed.Attach(busy, segment, "eth0", "");

  const double freeCheck = FreeCheck(bed, host, HostAddress(250));
  if (freeCheck < 0.0) {
    std::printf("autoip_bench: free address %s answered; no figures\n", HostAddress(250).c_str());
    return 1;
  }

  std::printf("Auto IP from 10.77.0.1/24; N addresses in use from 10.77.0.2 upwards\n");
  std::printf("round trip: median of %d checks to a busy address (neighbour resolved)\n",
              RoundTripSamples);
  std::printf("floor A: one %.0f s check time-out + N x round trip\n", CheckTimeoutSeconds);
  std::printf("floor B: one measured check of a free address (%.3f s, neighbour cache empty)"
              " + N x round trip\n", freeCheck);
  std::printf("%4s %9s %8s | %8s %9s %6s | %8s %9s %6s | %s\n", "N", "rtt ms", "total s",
              "floorA s", "overhead", "ratio", "floorB s", "overhead", "ratio", "chosen");
  bool allExpected = true;
  for (const int busyCount : {0, 50, 200}) {
    const TOutcome outcome = MeasureOnce(bed, host, busy, busyCount);
    const std::string expected = HostAddress(busyCount + 2);
    if (outcome.RoundTrip < 0.0) {
      std::printf("%4d a check to busy address 10.77.0.2 went unanswered; no figures\n",
                  busyCount);
      allExpected = false;
      continue;
    }
    const double floorA = CheckTimeoutSeconds + busyCount * outcome.RoundTrip;
    const double floorB = freeCheck + busyCount * outcome.RoundTrip;
    std::printf("%4d %9.4f %8.3f | %8.3f %+9.3f %6.3f | %8.3f %+9.3f %6.3f | %s\n", busyCount,
                outcome.RoundTrip * 1000.0, outcome.Total, floorA, outcome.Total - floorA,
                outcome.Total / floorA, floorB, outcome.Total - floorB, outcome.Total / floorB,
                outcome.Chosen ? outcome.Address.c_str() : "(none)");
    if (!outcome.Chosen || outcome.Address != expected) {
      std::printf("%4d UNEXPECTED: chose %s, expected %s\n", busyCount,
                  outcome.Chosen ? outcome.Address.c_str() : "nothing", expected.c_str());
      allExpected = false;
    }
  }
  return allExpected ? 0 : 1;
}
