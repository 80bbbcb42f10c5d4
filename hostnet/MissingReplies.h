#pragma once
// Why devices' replies may never reach a socket, and what to tell the user about it.
//
// Reverse-path filtering and the devices outside this host's subnets. Linux drops an incoming
// packet whose source address it would not route back out: in strict mode (rp_filter 1) unless
// the route back leaves through the interface the packet came in on, in loose mode (2) unless
// any route leads back. A device whose address lies outside every local subnet is reached only
// by the default route, so on an interface with filtering on and no default route fitting the
// mode, that device's replies never reach a socket. Ubuntu sets 2, RHEL 1. A program that can
// open packet sockets hears them all the same; one that cannot says why they are missing.
// A host firewall that accepts only what belongs to a connection drops every reply to a
// broadcast. Plain functions; the kernel's settings are read in the calling thread's network
// namespace.
#include <functional>
#include <string>
#include <vector>

#include "hostnet/AdapterPlatform.h"

namespace scoutor {

struct TReversePathDrop {
  std::string Interface;  // "eth0"
  int Mode = 0;           // 1 strict, 2 loose
};

// The adapters on which replies from outside this host's subnets are dropped. `filterMode`
// gives an interface's effective mode (the kernel takes the higher of "all" and the
// interface's own). An adapter without an IPv4 address takes no part.
std::vector<TReversePathDrop> ReversePathDrops(
    const std::vector<TAdapterRecord>& adapters,
    const std::function<int(const std::string& interface)>& filterMode);

// The kernel's effective mode for `interface`, from /proc/sys/net/ipv4/conf; 0 when unknown.
int KernelFilterMode(const std::string& interface);

// What `program` tells its user about the drops, naming both remedies; empty without drops.
std::string ReversePathExplanation(const std::vector<TReversePathDrop>& drops,
                                   const std::string& program);

// For a program that cannot open packet sockets (no cap_net_raw, not root): the explanation of
// the drops on this host now, or empty when there are none or the program hears the replies
// below the filters.
std::string MissingRepliesExplanation(const std::string& program);

// For a program that cannot open packet sockets: a hint to add where no reply came (a scan
// that heard nothing, an upload that timed out), or empty.
std::string FirewallHint(const std::string& program);

}  // namespace scoutor
