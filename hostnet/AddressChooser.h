#pragma once
// Auto IP without blocking the loop: the same choice as ChooseIPAddress (the first candidate, in
// its order, that is free), with the candidates checked several at a time on a reachability
// service. A candidate whose echo goes unanswered but that a host holds all the same (on a
// directly attached subnet the kernel resolved its link-layer address: it answered ARP) is in
// use, not free. Such a host is known as soon as its link-layer address is: on the link
// layer's path the service says so at the ARP reply; on the kernel's path the chooser looks at
// the neighbour table (NeighbourTable.h) every few dozen milliseconds while checks are out. A
// candidate held either way counts as in use without waiting for its time-out. Loop thread only.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "hostnet/ReachabilityService.h"

namespace scoutor {

struct TAddressChoice {
  bool Found = false;  // false: nothing free, the local address is not configured, or Error
  std::string Address, Mask, Gateway;
  std::string Error;  // a check that failed ends the choice with its text
};

// How the chooser checks one candidate: the reachability service's Check and Cancel, or fakes
// with the same contract (the result comes later, never inside Check).
struct TCandidateChecks {
  std::function<TCheckId(const std::string& address, TCheckDone done, TCheckHeld held)> Check;
  std::function<void(TCheckId id)> Cancel;
};

// The service's own Check and Cancel.
TCandidateChecks ChecksOf(TReachabilityService& service);

class TAddressChooser {
 public:
  static constexpr std::size_t kWindow = 32;  // candidates checked at once
  static constexpr int kNeighbourPollMs = 50;

  explicit TAddressChooser(TReachabilityService& service, TEventLoop& loop = MainLoop());
  TAddressChooser(TCandidateChecks checks, TEventLoop& loop, std::size_t window = kWindow);
  ~TAddressChooser();  // a running choice ends without its callback
  TAddressChooser(const TAddressChooser&) = delete;
  TAddressChooser& operator=(const TAddressChooser&) = delete;

  // Starts a choice in the subnet of `localAddress` (as ChooseIPAddress takes it); `done` runs
  // once on the loop's thread, never inside Start. A choice already running is cancelled.
  void Start(const std::string& localAddress, std::function<void(const TAddressChoice&)> done);
  void Cancel();
  bool Running() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> Impl;
};

}  // namespace scoutor
