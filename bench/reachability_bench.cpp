// Latency of one reachability check to a live address, in-process, against the process time of
// `ping -c1` (iputils) to the same address as a peer figure. Runs inside a private pair of
// network namespaces; prints median, 95th percentile and best of each.
// Usage: reachability_bench [rounds]   (default 200)
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostnet/Reachability.h"
#include "tests/support/NetnsBed.h"

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start) {
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

void Print(const char* what, std::vector<double> samples, int failures) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
  };
  std::printf("%-34s rounds %4zu  median %7.3f ms  p95 %7.3f ms  best %7.3f ms  failed %d\n",
              what, samples.size(), at(0.5), at(0.95), samples.front(), failures);
}

// Runs `ping -c1` inside namespace `ns`; true when it exited 0 (an answer came).
bool PingProcess(const std::string& ns, const std::string& address) {
  const std::string path = "/run/netns/" + ns;
  const int nsFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (nsFd < 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (setns(nsFd, CLONE_NEWNET) != 0) _exit(126);
    execlp("ping", "ping", "-c1", "-W1", "-n", "-q", address.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(nsFd);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string why = scoutor::test::TNetnsBed::Unavailable();
  if (!why.empty()) {
    std::printf("reachability_bench: skipped, needs network namespaces (root): %s\n", why.c_str());
    return 0;
  }
  const int rounds = argc > 1 ? std::max(1, std::min(10000, std::atoi(argv[1]))) : 200;

  scoutor::test::TNetnsBed bed;
  const std::string client = bed.AddHost("client");
  const std::string peer = bed.AddHost("peer");
  bed.Link(client, "eth0", "10.9.0.1/24", peer, "eth0", "10.9.0.2/24");
  const std::string live = "10.9.0.2";

  std::vector<double> checks;
  int checkFailures = 0;
  bed.InNamespace(client, [&] {
    scoutor::PingAddress(live);  // resolves the neighbour once, outside the figures
    for (int i = 0; i < rounds; ++i) {
      const auto start = TClock::now();
      const bool reachable = scoutor::PingAddress(live);
      checks.push_back(MsSince(start));
      if (!reachable) ++checkFailures;
    }
  });

  std::vector<double> processes;
  int processFailures = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = TClock::now();
    const bool reachable = PingProcess(client, live);
    processes.push_back(MsSince(start));
    if (!reachable) ++processFailures;
  }

  std::printf("one echo check to a live address over a veth pair\n");
  Print("PingAddress (in-process)", checks, checkFailures);
  Print("ping -c1 (iputils, process time)", processes, processFailures);
  return 0;
}
