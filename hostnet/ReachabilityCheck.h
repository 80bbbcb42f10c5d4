#pragma once
// What one reachability check answers, whichever path it took: the kernel's (an ICMP socket,
// the kernel resolving the neighbour) or the link layer's (ARP and the echo in frames of our
// own, on a packet socket).
#include <cstdint>
#include <functional>
#include <string>

namespace scoutor {

enum class TReachability { Reachable, NotReachable, Failed };

enum class TCheckPath { Kernel, LinkLayer };

struct TCheckResult {
  std::string Address;
  TReachability Outcome = TReachability::NotReachable;
  // Failed: what went wrong; NotReachable: why the request could not leave (no route), or
  // empty when it left and went unanswered.
  std::string Error;
  TCheckPath Path = TCheckPath::Kernel;
  // NotReachable on the link layer, yet a host answered ARP for the address: it holds the
  // address and drops echo requests. (The kernel path leaves this to the neighbour table.)
  bool Held = false;
};

using TCheckId = std::uint64_t;
using TCheckDone = std::function<void(const TCheckResult& result)>;
// Told, before the check ends, as soon as a host is known to hold the address.
using TCheckHeld = std::function<void()>;

// How long a check waits for the answer to its echo request.
constexpr int kCheckTimeoutMs = 5000;

// The check's end as a diagnostic line: "check 10.0.0.7 (link layer): reachable".
std::string CheckLogLine(const TCheckResult& result);

}  // namespace scoutor
