#include "tests/support/NetnsBed.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace scoutor::test {

namespace {

std::atomic<int> BedCounter{0};

// Runs argv (no shell) and returns its exit status; output to /dev/null unless captured.
int RunQuiet(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MustRun(const std::vector<std::string>& argv) {
  if (RunQuiet(argv) != 0) {
    std::string line;
    for (const auto& a : argv) line += a + " ";
    throw std::runtime_error("command failed: " + line);
  }
}

// Deletes namespaces whose creating test process no longer exists.
void SweepOrphans() {
  DIR* dir = opendir("/run/netns");
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    int pid = 0;
    if (std::sscanf(entry->d_name, "sc%d-", &pid) != 1 || pid <= 0) continue;
    if (kill(pid, 0) != 0 && errno == ESRCH) RunQuiet({"ip", "netns", "del", entry->d_name});
  }
  closedir(dir);
}

}  // namespace

std::string TNetnsBed::Unavailable() {
  static std::once_flag once;
  static std::string why;
  std::call_once(once, [] {
    if (geteuid() != 0) {
      why = "not running as root";
      return;
    }
    const std::string probe = "sc" + std::to_string(getpid()) + "-probe";
    if (RunQuiet({"ip", "netns", "add", probe}) != 0) {
      why = "'ip netns add' failed";
      return;
    }
    RunQuiet({"ip", "netns", "del", probe});
  });
  return why;
}

TNetnsBed::TNetnsBed()
    : Prefix("sc" + std::to_string(getpid()) + "-" + std::to_string(BedCounter++) + "-") {
  SweepOrphans();
}

TNetnsBed::~TNetnsBed() {
  for (pid_t child : Children) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  for (auto it = Namespaces.rbegin(); it != Namespaces.rend(); ++it)
    RunQuiet({"ip", "netns", "del", *it});
}

std::string TNetnsBed::AddHost(const std::string& name) {
  const std::string ns = Prefix + name;
  MustRun({"ip", "netns", "add", ns});
  Namespaces.push_back(ns);
  MustRun({"ip", "-n", ns, "link", "set", "lo", "up"});
  return ns;
}

std::string TNetnsBed::AddSegment(const std::string& name) {
  const std::string ns = AddHost("seg-" + name);
  MustRun({"ip", "-n", ns, "link", "add", "br0", "type", "bridge"});
  MustRun({"ip", "-n", ns, "link", "set", "br0", "up"});
  return ns;
}

void TNetnsBed::Attach(const std::string& host, const std::string& segment,
                       const std::string& ifName, const std::string& address) {
  const std::string peer = "p" + std::to_string(NextPeer++);
  MustRun({"ip", "-n", host, "link", "add", ifName, "type", "veth", "peer", "name", peer,
           "netns", segment});
  MustRun({"ip", "-n", segment, "link", "set", peer, "master", "br0"});
  MustRun({"ip", "-n", segment, "link", "set", peer, "up"});
  if (!address.empty()) MustRun({"ip", "-n", host, "addr", "add", address, "dev", ifName});
  MustRun({"ip", "-n", host, "link", "set", ifName, "up"});
}

void TNetnsBed::Link(const std::string& hostA, const std::string& ifA, const std::string& addressA,
                     const std::string& hostB, const std::string& ifB,
                     const std::string& addressB) {
  MustRun({"ip", "-n", hostA, "link", "add", ifA, "type", "veth", "peer", "name", ifB, "netns",
           hostB});
  if (!addressA.empty()) MustRun({"ip", "-n", hostA, "addr", "add", addressA, "dev", ifA});
  if (!addressB.empty()) MustRun({"ip", "-n", hostB, "addr", "add", addressB, "dev", ifB});
  MustRun({"ip", "-n", hostA, "link", "set", ifA, "up"});
  MustRun({"ip", "-n", hostB, "link", "set", ifB, "up"});
}

void TNetnsBed::PinNeighbours(const std::string& hostA, const std::string& ifA,
                              const std::string& ipA, const std::string& hostB,
                              const std::string& ifB, const std::string& ipB) {
  const auto hardwareAddress = [this](const std::string& host, const std::string& ifName) {
    std::string text = Run(host, "ip -br link show dev " + ifName + " | awk '{ print $3 }'");
    text.erase(text.find_last_not_of('\n') + 1);
    return text;
  };
  MustRun({"ip", "-n", hostA, "neigh", "replace", ipB, "lladdr", hardwareAddress(hostB, ifB),
           "dev", ifA, "nud", "permanent"});
  MustRun({"ip", "-n", hostB, "neigh", "replace", ipA, "lladdr", hardwareAddress(hostA, ifA),
           "dev", ifB, "nud", "permanent"});
}

bool TNetnsBed::AddConnectionFirewall(const std::string& host) {
  if (std::system("command -v nft >/dev/null 2>&1") != 0) return false;
  Run(host,
      "nft add table inet host && "
      "nft add chain inet host input '{ type filter hook input priority 0; policy drop; }' && "
      "nft add rule inet host input iif lo accept && "
      "nft add rule inet host input ct state established,related accept");
  return true;
}

namespace {
int OpenNamespace(const std::string& ns) {
  const std::string path = "/run/netns/" + ns;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  return fd;
}
}  // namespace

void TNetnsBed::EnterOnThisThread(const std::string& ns) {
  const int fd = OpenNamespace(ns);
  const int result = setns(fd, CLONE_NEWNET);
  close(fd);
  if (result != 0) throw std::runtime_error("cannot enter " + ns + ": " + std::strerror(errno));
}

std::string TNetnsBed::Run(const std::string& ns, const std::string& command) {
  const int nsFd = OpenNamespace(ns);
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls until exec: the test may run threads
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(out[0]);
    close(out[1]);
    if (setns(nsFd, CLONE_NEWNET) != 0) _exit(126);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(nsFd);
  close(out[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("in " + ns + ": '" + command + "' failed: " + output);
  return output;
}

pid_t TNetnsBed::Spawn(const std::string& ns, const std::vector<std::string>& argv,
                       const std::string& logFile) {
  const int nsFd = OpenNamespace(ns);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls until exec: the test may run threads
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    if (!logFile.empty()) {
      const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      dup2(log, 1);
      dup2(log, 2);
    }
    if (setns(nsFd, CLONE_NEWNET) != 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(nsFd);
  if (pid < 0) throw std::runtime_error("fork failed");
  Children.push_back(pid);
  return pid;
}

int TNetnsBed::Stop(pid_t pid, int signal) {
  int status = 0;
  kill(pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10000);
  }
  std::erase(Children, pid);
  return status;
}

}  // namespace scoutor::test
