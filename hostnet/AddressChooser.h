#pragma once
// Auto IP without blocking the loop: the same choice as ChooseIPAddress (the first candidate, in
// its order, that is free), with the candidates checked several at a time on a reachability
// service. A candidate whose echo goes unanswered but that a host holds all the same (on a
// directly attached subnet the kernel resolved its link-layer address: it answered ARP) is in
// use, not free. Loop thread only.
#include <functional>
#include <memory>
#include <string>

#include "hostnet/ReachabilityService.h"

namespace scoutor {

struct TAddressChoice {
  bool Found = false;  // false: nothing free, the local address is not configured, or Error
  std::string Address, Mask, Gateway;
  std::string Error;   // a check that failed ends the choice with its text
};

class TAddressChooser {
 public:
  explicit TAddressChooser(TReachabilityService& service, TEventLoop& loop = MainLoop());
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
