#include "hostnet/ReachabilityService.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>

#include "hostnet/DirectLink.h"
#include "hostnet/KernelPathChecks.h"
#include "hostnet/LinkLayerChecks.h"
#include "transport/IPv4Text.h"
#include "transport/RawSocketPrivilege.h"

namespace scoutor {

namespace {

// Echo identifiers differ between services and between the two paths of one service, so that
// no path takes another's answer for its own.
std::atomic<unsigned> IdentifiersGiven{0};

std::uint16_t NewIdentifier() {
  return static_cast<std::uint16_t>((getpid() + IdentifiersGiven++ * 7919u) & 0xFFFF);
}

const char* PathName(TCheckPath path) {
  return path == TCheckPath::LinkLayer ? "link layer" : "kernel";
}

}  // namespace

std::string CheckLogLine(const TCheckResult& result) {
  std::string line = "check " + result.Address + " (" + PathName(result.Path) + "): ";
  switch (result.Outcome) {
    case TReachability::Reachable:
      line += "reachable";
      break;
    case TReachability::NotReachable:
      line += result.Held ? "not reachable (it answered ARP)" : "not reachable";
      break;
    case TReachability::Failed:
      line += "failed";
      break;
  }
  if (!result.Error.empty()) line += ": ";
  // A socket error's text has a line break ("Socket Error # 101\r\nNetwork is unreachable.").
  for (const char c : result.Error)
    if (c != '\r') line += c == '\n' ? ' ' : c;
  return line;
}

std::size_t TReachabilityService::DefaultOutstandingLimit() {
  return NeighbourLimit() / 2;
}

struct TReachabilityService::TImpl {
  // A check whose path is not chosen yet.
  struct TUndecided {
    TCheckId Id;
    std::string Address;
    TCheckDone Done;
    TCheckHeld Held;
  };

  TImpl(TEventLoop& loop, const TReachabilityOptions& options)
      : Loop(loop),
        Kernel(loop,
               options.MaxOutstanding != 0 ? options.MaxOutstanding : DefaultOutstandingLimit(),
               NewIdentifier()),
        LinkLayer(loop, options.Clock != nullptr ? *options.Clock : SteadyClock(),
                  options.ArpPerSecond, NewIdentifier()),
        LinkLayerAllowed(options.LinkLayer && TRawSocketPrivilege::Available()),
        Ended(options.Ended) {}

  // Without the link layer the kernel's path takes every check at once. Otherwise the route
  // of each target is asked (some 20 us) a few dozen at a time, on later turns of the loop,
  // so that a burst of checks (the replies to a scan) never holds the loop.
  void Start(TCheckId id, const std::string& address, TCheckDone done, TCheckHeld held) {
    if (!LinkLayerAllowed) {
      Kernel.Start(id, address, std::move(done));
      return;
    }
    Undecided.push_back({id, address, std::move(done), std::move(held)});
    PostDecisions();
  }

  void PostDecisions() {
    if (DecisionsPosted) return;
    DecisionsPosted = true;
    Loop.Post([this, alive = std::weak_ptr<bool>(Alive)] {
      if (alive.expired()) return;
      DecisionsPosted = false;
      Decide();
    });
  }

  void Decide() {
    for (std::size_t n = 0; n < kDecisionsPerTurn && !Undecided.empty(); ++n) {
      TUndecided next = std::move(Undecided.front());
      Undecided.pop_front();
      // Starting a check never ends one: no callback runs in here.
      if (!StartOnLinkLayer(next.Id, next.Address, next.Done, next.Held))
        Kernel.Start(next.Id, next.Address, std::move(next.Done));
    }
    if (!Undecided.empty()) PostDecisions();
  }

  bool CancelUndecided(TCheckId id) {
    const auto found = std::find_if(Undecided.begin(), Undecided.end(),
                                    [id](const TUndecided& check) { return check.Id == id; });
    if (found == Undecided.end()) return false;
    Undecided.erase(found);
    return true;
  }

  // The link layer's path for a target directly on an Ethernet-like link, when it can open
  // that interface's socket.
  bool StartOnLinkLayer(TCheckId id, const std::string& address, TCheckDone& done,
                        TCheckHeld& held) {
    if (!LinkLayerAllowed) return false;
    const std::optional<TAddressBytes> target = ParseDottedIPv4(address);
    if (!target) return false;
    const std::optional<TDirectLink> link = DirectLinkTo(*target);
    return link && LinkLayer.Start(id, address, *target, *link, std::move(done), std::move(held));
  }

  static constexpr std::size_t kDecisionsPerTurn = 64;

  TEventLoop& Loop;
  TKernelPathChecks Kernel;
  TLinkLayerChecks LinkLayer;
  const bool LinkLayerAllowed;
  const TCheckDone Ended;
  TCheckId NextId = 1;
  std::deque<TUndecided> Undecided;  // in the order they were started
  bool DecisionsPosted = false;
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);  // posted steps check it
};

TReachabilityService::TReachabilityService(TEventLoop& loop, TReachabilityOptions options)
    : Impl(std::make_unique<TImpl>(loop, options)) {}

TReachabilityService::~TReachabilityService() = default;

TCheckId TReachabilityService::Check(const std::string& address, TCheckDone done, TCheckHeld held) {
  const TCheckId id = Impl->NextId++;
  if (Impl->Ended)
    done = [ended = Impl->Ended, done = std::move(done)](const TCheckResult& result) {
      ended(result);
      if (done) done(result);
    };
  Impl->Start(id, address, std::move(done), std::move(held));
  return id;
}

void TReachabilityService::Cancel(TCheckId id) {
  if (!Impl->CancelUndecided(id) && !Impl->LinkLayer.Cancel(id)) Impl->Kernel.Cancel(id);
}

void TReachabilityService::CancelAll() {
  Impl->Undecided.clear();
  Impl->LinkLayer.CancelAll();
  Impl->Kernel.CancelAll();
}

std::size_t TReachabilityService::Pending() const {
  return Impl->Undecided.size() + Impl->LinkLayer.Pending() + Impl->Kernel.Pending();
}

}  // namespace scoutor
