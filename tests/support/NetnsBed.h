#pragma once
// A private network of Linux network namespaces for one test: hosts, links and switched
// segments that the test builds, and processes it starts inside them. Everything is torn down
// in the destructor, also when the test fails; namespaces left by a crashed test process are
// swept by the next bed. Nothing here touches the machine's own namespace.
#include <sys/types.h>

#include <csignal>
#include <exception>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace scoutor::test {

class TNetnsBed {
 public:
  // Empty when namespaces can be made here; otherwise why not (a test skips with it).
  static std::string Unavailable();

  TNetnsBed();
  ~TNetnsBed();
  TNetnsBed(const TNetnsBed&) = delete;
  TNetnsBed& operator=(const TNetnsBed&) = delete;

  // Creates a namespace with its loopback up; returns its full name.
  std::string AddHost(const std::string& name);
  // A switched segment (a bridge in a namespace of its own); returns the segment's namespace.
  std::string AddSegment(const std::string& name);
  // Connects `host` to `segment` through a new interface `ifName` with `address` ("10.0.0.1/24";
  // empty: none), up.
  void Attach(const std::string& host, const std::string& segment, const std::string& ifName,
              const std::string& address);
  // A direct veth link between two hosts, with an address on each end (empty: none), up.
  void Link(const std::string& hostA, const std::string& ifA, const std::string& addressA,
            const std::string& hostB, const std::string& ifB, const std::string& addressB);
  // Gives each end of a link a permanent neighbour entry for the other end's address (plain,
  // without prefix), so that traffic between them needs no address resolution: the kernel's
  // neighbour table is shared by all namespaces, and while other programs fill it, a new link
  // resolves nothing (every first packet is dropped) until entries age out.
  void PinNeighbours(const std::string& hostA, const std::string& ifA, const std::string& ipA,
                     const std::string& hostB, const std::string& ifB, const std::string& ipB);

  // Gives `host` a desktop's firewall (nftables): incoming packets are dropped unless they come
  // through loopback or belong to a connection it knows (established or related). False, with
  // nothing changed, where nft is missing.
  bool AddConnectionFirewall(const std::string& host);

  // Runs `command` with /bin/sh inside namespace `ns`; throws std::runtime_error (with its
  // output) unless it exits 0. Returns what it printed on standard output.
  std::string Run(const std::string& ns, const std::string& command);
  // Starts a program inside `ns` (stdout and stderr go to `logFile` when given); it is killed
  // at teardown, or when the test process dies.
  pid_t Spawn(const std::string& ns, const std::vector<std::string>& argv,
              const std::string& logFile = "");
  // Stops a spawned program (`signal`, then SIGKILL after 2 s) and returns its wait status.
  int Stop(pid_t pid, int signal = SIGTERM);

  // Runs `work` on a new thread whose network namespace is `ns` (sockets it and the threads it
  // starts open live there) and returns its result; an exception it raises is rethrown here.
  template <class F>
  auto InNamespace(const std::string& ns, F&& work) -> decltype(work());

  // Enters `ns` on the calling thread (used by InNamespace).
  static void EnterOnThisThread(const std::string& ns);

 private:
  std::string Prefix;
  std::vector<std::string> Namespaces;
  std::vector<pid_t> Children;
  int NextPeer = 0;
};

template <class F>
auto TNetnsBed::InNamespace(const std::string& ns, F&& work) -> decltype(work()) {
  using TResult = decltype(work());
  std::exception_ptr error;
  if constexpr (std::is_void_v<TResult>) {
    std::thread([&] {
      try {
        EnterOnThisThread(ns);
        work();
      } catch (...) {
        error = std::current_exception();
      }
    }).join();
    if (error) std::rethrow_exception(error);
  } else {
    TResult result{};
    std::thread([&] {
      try {
        EnterOnThisThread(ns);
        result = work();
      } catch (...) {
        error = std::current_exception();
      }
    }).join();
    if (error) std::rethrow_exception(error);
    return result;
  }
}

}  // namespace scoutor::test

// Skips the current test, with the reason, where namespaces cannot be made.
#define SCOUTOR_REQUIRE_NETNS()                                                     \
  do {                                                                              \
    const std::string why = ::scoutor::test::TNetnsBed::Unavailable();              \
    if (!why.empty()) GTEST_SKIP() << "needs network namespaces (root): " << why;  \
  } while (0)
