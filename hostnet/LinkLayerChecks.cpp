#include "hostnet/LinkLayerChecks.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <unordered_map>
#include <vector>

#include "hostnet/SendPacer.h"
#include "runtime/SingleShot.h"
#include "transport/IcmpPacket.h"
#include "transport/LinkLayerSocket.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

constexpr std::uint8_t kTimeToLive = 128;

// The interface's queue is full for now: the frame goes on a later turn.
bool QueueFull(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS;
}

std::string SocketErrorText(int error) {
  return EIdSocketError(error).what();
}

}  // namespace

struct TLinkLayerChecks::TImpl {
  enum class TStage { Resolving, EchoWaiting, EchoOut };

  struct TCheck {
    std::string Address;
    TAddressBytes Target{};
    TAddressBytes Source{};  // the interface's address that the target's route chose
    int Interface = 0;
    TCheckDone Done;
    TCheckHeld Held;
    TStage Stage = TStage::Resolving;
    TMacAddress Mac{};
    std::uint16_t Sequence = 0;
  };

  // One address being resolved on one interface, for every check that waits for it.
  struct TResolution {
    TAddressBytes Target{};
    TAddressBytes Source{};
    std::uint64_t Serial = 0;  // tells a later resolution of the same target from this one
    int TriesSent = 0;
    bool Queued = false;
    std::vector<TCheckId> Checks;
  };

  // The end of a wait that began with a send. Every wait of a kind is equally long and starts
  // in the order of the sends, so the waits of a kind end in the order they were queued: one
  // timer serves each queue, however many checks are out.
  struct TEchoWait {
    std::int64_t DueMs;
    TCheckId Check;
  };
  struct TArpWait {
    std::int64_t DueMs;
    int Interface;
    std::uint32_t Target;
    std::uint64_t Serial;
  };

  struct TInterface {
    TInterface(int index, unsigned arpPerSecond) : Index(index), Pacer(arpPerSecond) {}
    int Index;
    std::unique_ptr<TLinkLayerSocket> Socket;
    std::vector<TAddressBytes> Sources;  // the addresses our echo replies come back to
    TSendPacer Pacer;
    std::map<std::uint32_t, TResolution> Resolving;  // by target, host order
    std::deque<std::uint32_t> ArpQueue;              // targets whose next try may go
    std::deque<TCheckId> EchoQueue;                  // resolved, echo not sent yet
    TSingleShot Turn;                                // the next paced turn of sends
    std::size_t Checks = 0;
  };

  TImpl(TEventLoop& loop, const TClock& clock, unsigned arpPerSecond, std::uint16_t identifier)
      : Loop(loop), Clock(clock), ArpPerSecond(arpPerSecond), OwnIdentifier(identifier) {}

  bool Start(TCheckId id, const std::string& address, const TAddressBytes& target,
             const TDirectLink& link, TCheckDone&& done, TCheckHeld&& held) {
    TInterface* interface = Open(link);
    if (interface == nullptr) return false;
    TCheck& check = Checks[id];
    check.Address = address;
    check.Target = target;
    check.Source = link.Source;
    check.Interface = link.InterfaceIndex;
    check.Done = std::move(done);
    check.Held = std::move(held);
    ++interface->Checks;
    TResolution& resolution = interface->Resolving[HostOrderIPv4(target)];
    if (resolution.Checks.empty() && !resolution.Queued && resolution.TriesSent == 0) {
      resolution.Serial = NextSerial++;
      resolution.Target = target;
      resolution.Source = link.Source;
      Enqueue(*interface, resolution);
    }
    resolution.Checks.push_back(id);
    return true;
  }

  // The interface's socket, opened (or its addresses widened) for `link`; null without the
  // capability.
  TInterface* Open(const TDirectLink& link) {
    auto found = Interfaces.find(link.InterfaceIndex);
    if (found == Interfaces.end()) {
      auto interface = std::make_unique<TInterface>(link.InterfaceIndex, ArpPerSecond);
      interface->Sources.push_back(link.Source);
      const int index = link.InterfaceIndex;
      try {
        interface->Socket = std::make_unique<TLinkLayerSocket>(
            index, link.Mac, interface->Sources, Loop,
            [this, index](const TArpReply& reply) { Resolved(index, reply); },
            [this](std::span<const std::uint8_t> packet) { Answered(packet); });
      } catch (const EIdException&) {
        return nullptr;
      }
      found = Interfaces.emplace(index, std::move(interface)).first;
    }
    TInterface& interface = *found->second;
    if (std::find(interface.Sources.begin(), interface.Sources.end(), link.Source) ==
        interface.Sources.end()) {
      interface.Sources.push_back(link.Source);
      try {
        interface.Socket->SetOwnAddresses(interface.Sources);
      } catch (const EIdException&) {
        interface.Sources.pop_back();
        return nullptr;
      }
    }
    return &interface;
  }

  bool Cancel(TCheckId id) {
    auto it = Checks.find(id);
    if (it == Checks.end()) return false;
    Forget(it);
    return true;
  }

  void CancelAll() {
    while (!Checks.empty()) Forget(Checks.begin());
  }

  // Removes a check that has ended or was cancelled; returns its callback.
  TCheckDone Forget(std::map<TCheckId, TCheck>::iterator it) {
    TCheck& check = it->second;
    TInterface& interface = *Interfaces.at(check.Interface);
    switch (check.Stage) {
      case TStage::Resolving: {
        auto resolution = interface.Resolving.find(HostOrderIPv4(check.Target));
        if (resolution != interface.Resolving.end()) {
          std::erase(resolution->second.Checks, it->first);
          // A resolution nobody waits for is dropped (its queued try is skipped).
          if (resolution->second.Checks.empty()) interface.Resolving.erase(resolution);
        }
        break;
      }
      case TStage::EchoWaiting:
        std::erase(interface.EchoQueue, it->first);
        break;
      case TStage::EchoOut:  // its wait is passed over when it ends
        BySequence.erase(check.Sequence);
        break;
    }
    TCheckDone done = std::move(check.Done);
    Checks.erase(it);
    // An interface without checks closes its socket.
    if (--interface.Checks == 0) Interfaces.erase(interface.Index);
    return done;
  }

  // Ends a check and runs its callback, which may do anything with the service, also destroy
  // it: callers check Alive afterwards before touching members.
  void Finish(TCheckId id, TReachability outcome, bool held = false,
              const std::string& error = "") {
    auto it = Checks.find(id);
    if (it == Checks.end()) return;
    const TCheckResult result{it->second.Address, outcome, error, TCheckPath::LinkLayer, held};
    const TCheckDone done = Forget(it);
    if (done) done(result);
  }

  // Ends every check that waits for a resolution, in the order they started.
  void FinishResolution(TInterface& interface, std::uint32_t target, TReachability outcome,
                        const std::string& error) {
    auto found = interface.Resolving.find(target);
    if (found == interface.Resolving.end()) return;
    const std::vector<TCheckId> waiting = found->second.Checks;
    const std::weak_ptr<bool> alive = Alive;
    for (TCheckId id : waiting) {
      Finish(id, outcome, false, error);
      if (alive.expired()) return;
    }
  }

  void Enqueue(TInterface& interface, TResolution& resolution) {
    resolution.Queued = true;
    interface.ArpQueue.push_back(HostOrderIPv4(resolution.Target));
    ScheduleTurn(interface, 0);
  }

  void ScheduleTurn(TInterface& interface, int delayMs) {
    if (interface.Turn.Pending()) return;
    const int index = interface.Index;
    interface.Turn.Start(Loop, delayMs, [this, index] { SendTurn(index); });
  }

  // Sends what the pacing allows: ARP tries first come first served, then echo requests that
  // waited for room in the interface's queue. Comes back while anything waits.
  void SendTurn(int index) {
    auto found = Interfaces.find(index);
    if (found == Interfaces.end()) return;
    TInterface& interface = *found->second;
    const std::weak_ptr<bool> alive = Alive;
    const std::int64_t now = Clock.NowMs();
    for (std::size_t allowed = interface.Pacer.Allowance(now);
         allowed > 0 && !interface.ArpQueue.empty(); --allowed) {
      const std::uint32_t target = interface.ArpQueue.front();
      auto resolution = interface.Resolving.find(target);
      // Its checks were cancelled, or the entry is left from such a resolution.
      if (resolution == interface.Resolving.end() || !resolution->second.Queued) {
        interface.ArpQueue.pop_front();
        ++allowed;
        continue;
      }
      const int error =
          interface.Socket->SendArpRequest(resolution->second.Source, resolution->second.Target);
      if (QueueFull(error)) break;
      interface.ArpQueue.pop_front();
      if (error != 0) {
        FinishResolution(interface, target, TReachability::Failed, SocketErrorText(error));
        if (alive.expired() || Interfaces.count(index) == 0) return;
        continue;
      }
      interface.Pacer.Sent(now);
      TResolution& sent = resolution->second;
      sent.Queued = false;
      ++sent.TriesSent;
      ArpWaits.push_back({now + kArpIntervalMs, index, target, sent.Serial});
      ArmArpWaits();
    }
    while (!interface.EchoQueue.empty()) {
      if (!SendEcho(interface, interface.EchoQueue.front())) break;
      if (alive.expired() || Interfaces.count(index) == 0) return;
    }
    if (!interface.ArpQueue.empty() || !interface.EchoQueue.empty())
      ScheduleTurn(interface, interface.Pacer.SlotMs());
  }

  // Starts the timer for the first wait of `waits` unless it runs.
  template <class TWaits>
  void Arm(TWaits& waits, TSingleShot& timer, void (TImpl::*serve)()) {
    if (timer.Pending() || waits.empty()) return;
    const std::int64_t delayMs = std::max<std::int64_t>(0, waits.front().DueMs - Clock.NowMs());
    timer.Start(Loop, static_cast<int>(delayMs), [this, serve] { (this->*serve)(); });
  }
  void ArmArpWaits() { Arm(ArpWaits, ArpTimer, &TImpl::ServeArpWaits); }
  void ArmEchoWaits() { Arm(EchoWaits, EchoTimer, &TImpl::ServeEchoWaits); }

  // The first ARP wait has ended, and every one due with it: for each resolution still waiting
  // for that try, the next try, or after the last one, not reachable.
  void ServeArpWaits() {
    const std::weak_ptr<bool> alive = Alive;
    const std::int64_t ended = std::max(ArpWaits.front().DueMs, Clock.NowMs());
    while (!ArpWaits.empty() && ArpWaits.front().DueMs <= ended) {
      const TArpWait wait = ArpWaits.front();
      ArpWaits.pop_front();
      auto interface = Interfaces.find(wait.Interface);
      if (interface == Interfaces.end()) continue;
      auto resolution = interface->second->Resolving.find(wait.Target);
      if (resolution == interface->second->Resolving.end() ||
          resolution->second.Serial != wait.Serial || resolution->second.Queued)
        continue;
      if (resolution->second.TriesSent < kArpTries) {
        Enqueue(*interface->second, resolution->second);
      } else {
        FinishResolution(*interface->second, wait.Target, TReachability::NotReachable, "");
        if (alive.expired()) return;
      }
    }
    ArmArpWaits();
  }

  // The first echo wait has ended, and every one due with it: a check still waiting for its
  // answer is not reachable, though its host answered ARP.
  void ServeEchoWaits() {
    const std::weak_ptr<bool> alive = Alive;
    const std::int64_t ended = std::max(EchoWaits.front().DueMs, Clock.NowMs());
    while (!EchoWaits.empty() && EchoWaits.front().DueMs <= ended) {
      const TCheckId id = EchoWaits.front().Check;
      EchoWaits.pop_front();
      auto check = Checks.find(id);
      if (check == Checks.end() || check->second.Stage != TStage::EchoOut) continue;
      Finish(id, TReachability::NotReachable, true);
      if (alive.expired()) return;
    }
    ArmEchoWaits();
  }

  // An ARP reply: every check that waits for its address sends its echo request.
  void Resolved(int index, const TArpReply& reply) {
    TInterface& interface = *Interfaces.at(index);
    auto found = interface.Resolving.find(HostOrderIPv4(reply.Address));
    if (found == interface.Resolving.end()) return;
    const std::vector<TCheckId> waiting = std::move(found->second.Checks);
    interface.Resolving.erase(found);
    const std::weak_ptr<bool> alive = Alive;
    for (TCheckId id : waiting) {
      TCheck& check = Checks.at(id);
      check.Stage = TStage::EchoWaiting;
      check.Mac = reply.Mac;
      interface.EchoQueue.push_back(id);
    }
    for (TCheckId id : waiting) {
      auto check = Checks.find(id);
      if (check == Checks.end() || !check->second.Held) continue;
      const TCheckHeld held = check->second.Held;
      held();
      if (alive.expired()) return;
    }
    if (Interfaces.count(index) != 0) ScheduleTurn(*Interfaces.at(index), 0);
  }

  std::uint16_t FreeSequence() {
    while (BySequence.count(NextSequence) != 0) ++NextSequence;
    return NextSequence++;
  }

  // Sends the echo request of a resolved check; false when the interface's queue is full.
  bool SendEcho(TInterface& interface, TCheckId id) {
    TCheck& check = Checks.at(id);
    const std::uint16_t sequence = FreeSequence();
    std::uint8_t request[kEchoRequestLength];
    BuildEchoRequest(request, OwnIdentifier, sequence, static_cast<std::uint32_t>(Clock.NowMs()));
    const std::vector<std::uint8_t> packet =
        IcmpPacketTo(check.Source, check.Target, NextIdentification++, kTimeToLive, request);
    const int error = interface.Socket->SendIPv4(check.Mac, packet);
    if (QueueFull(error)) return false;
    interface.EchoQueue.pop_front();
    if (error != 0) {
      Finish(id, TReachability::Failed, false, SocketErrorText(error));
      return true;
    }
    check.Stage = TStage::EchoOut;
    check.Sequence = sequence;
    BySequence.emplace(sequence, id);
    EchoWaits.push_back({Clock.NowMs() + kCheckTimeoutMs, id});
    ArmEchoWaits();
    return true;
  }

  // An ICMP packet to one of our addresses: ends the check it answers, if any.
  void Answered(std::span<const std::uint8_t> packet) {
    const std::optional<std::uint16_t> sequence = CandidateSequence(packet.data(), packet.size());
    if (!sequence) return;
    const auto found = BySequence.find(*sequence);
    if (found == BySequence.end()) return;
    const TCheckId id = found->second;
    const TCheck& check = Checks.at(id);
    const TEchoQuestion question{check.Target, OwnIdentifier, check.Sequence};
    switch (ClassifyAnswer(packet.data(), packet.size(), question)) {
      case TIcmpAnswer::Echo:
        Finish(id, TReachability::Reachable);
        return;
      case TIcmpAnswer::Unreachable:
      case TIcmpAnswer::TtlExceeded:
        Finish(id, TReachability::NotReachable);
        return;
      case TIcmpAnswer::OtherType:
        Finish(id, TReachability::Failed, false, "Non-echo type response received");
        return;
      case TIcmpAnswer::TooShort:
      case TIcmpAnswer::Unrelated:
        return;
    }
  }

  TEventLoop& Loop;
  const TClock& Clock;
  const unsigned ArpPerSecond;
  const std::uint16_t OwnIdentifier;
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);

  std::map<TCheckId, TCheck> Checks;
  std::map<int, std::unique_ptr<TInterface>> Interfaces;
  std::unordered_map<std::uint16_t, TCheckId> BySequence;  // echo out, unanswered
  std::deque<TArpWait> ArpWaits;                           // tries out, in the order they went
  std::deque<TEchoWait> EchoWaits;  // echo requests out, in the order they went
  TSingleShot ArpTimer;
  TSingleShot EchoTimer;
  std::uint64_t NextSerial = 1;
  std::uint16_t NextSequence = 0;
  std::uint16_t NextIdentification = 1;
};

TLinkLayerChecks::TLinkLayerChecks(TEventLoop& loop, const TClock& clock, unsigned arpPerSecond,
                                   std::uint16_t identifier)
    : Impl(std::make_unique<TImpl>(loop, clock, arpPerSecond, identifier)) {}

TLinkLayerChecks::~TLinkLayerChecks() = default;

bool TLinkLayerChecks::Start(TCheckId id, const std::string& address, const TAddressBytes& target,
                             const TDirectLink& link, TCheckDone&& done, TCheckHeld&& held) {
  return Impl->Start(id, address, target, link, std::move(done), std::move(held));
}

bool TLinkLayerChecks::Cancel(TCheckId id) {
  return Impl->Cancel(id);
}

void TLinkLayerChecks::CancelAll() {
  Impl->CancelAll();
}

std::size_t TLinkLayerChecks::Pending() const {
  return Impl->Checks.size();
}

}  // namespace scoutor
