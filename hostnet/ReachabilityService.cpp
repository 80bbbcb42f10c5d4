#include "hostnet/ReachabilityService.h"

#include <unistd.h>

#include <atomic>

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

}  // namespace

const char* PathName(TCheckPath path) {
  return path == TCheckPath::LinkLayer ? "link layer" : "kernel";
}

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
  TImpl(TEventLoop& loop, const TReachabilityOptions& options)
      : Kernel(loop,
               options.MaxOutstanding != 0 ? options.MaxOutstanding : DefaultOutstandingLimit(),
               NewIdentifier()),
        LinkLayer(loop, options.Clock != nullptr ? *options.Clock : SteadyClock(),
                  options.ArpPerSecond, NewIdentifier()),
        LinkLayerAllowed(options.LinkLayer && TRawSocketPrivilege::Available()),
        Ended(options.Ended) {}

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

  TKernelPathChecks Kernel;
  TLinkLayerChecks LinkLayer;
  const bool LinkLayerAllowed;
  const TCheckDone Ended;
  TCheckId NextId = 1;
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
  if (!Impl->StartOnLinkLayer(id, address, done, held))
    Impl->Kernel.Start(id, address, std::move(done));
  return id;
}

void TReachabilityService::Cancel(TCheckId id) {
  if (!Impl->LinkLayer.Cancel(id)) Impl->Kernel.Cancel(id);
}

void TReachabilityService::CancelAll() {
  Impl->LinkLayer.CancelAll();
  Impl->Kernel.CancelAll();
}

std::size_t TReachabilityService::Pending() const {
  return Impl->LinkLayer.Pending() + Impl->Kernel.Pending();
}

bool TReachabilityService::LinkLayerAllowed() const {
  return Impl->LinkLayerAllowed;
}

}  // namespace scoutor
