#include "hostnet/AddressChooser.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "hostnet/CandidateOrder.h"
#include "hostnet/NeighbourTable.h"
#include "runtime/SingleShot.h"

namespace scoutor {

struct TAddressChooser::TImpl {
  enum class TState { Out, InUse, Free, Failed };
  struct TCandidate {
    std::string Address;
    TState State = TState::Out;
    TCheckId Check = 0;
    std::string Error;
  };

  TImpl(TCandidateChecks checks, TEventLoop& loop, std::size_t window)
      : Checks(std::move(checks)), Loop(loop), Window(std::max<std::size_t>(1, window)) {}

  ~TImpl() { Stop(); }

  void Start(const std::string& localAddress, std::function<void(const TAddressChoice&)> done) {
    Stop();
    Running = true;
    Done = std::move(done);
    Loop.Post([this, localAddress, alive = std::weak_ptr<bool>(Alive), run = ++Runs] {
      if (alive.expired() || run != Runs || !Running) return;
      Order = TCandidateOrder::ForLocalAddress(localAddress);
      if (!Order) {
        End(TAddressChoice{});
        return;
      }
      Advance();
    });
  }

  // Cancels the checks still out; the choice's callback is not run.
  void Stop() {
    for (TCandidate& candidate : Candidates)
      if (candidate.State == TState::Out) Checks.Cancel(candidate.Check);
    Candidates.clear();
    Decided = 0;
    Outstanding = 0;
    Order.reset();
    Poll.Stop();
    Running = false;
    Done = nullptr;
    ++Runs;
  }

  // Decides what the results so far allow, then keeps the window full.
  void Advance() {
    const std::weak_ptr<bool> alive = Alive;
    if (Decide() || alive.expired()) return;
    while (Outstanding < Window) {
      const std::optional<std::string> address = Order->Next();
      if (!address) break;
      const std::size_t index = Candidates.size();
      TCandidate started;
      started.Address = *address;
      Candidates.push_back(std::move(started));
      ++Outstanding;
      Candidates[index].Check = Checks.Check(
          *address, [this, index](const TCheckResult& result) { Take(index, result); },
          [this, index] { TakeHeld(index); });
    }
    if (Outstanding == 0) {
      End(TAddressChoice{});  // every candidate is in use
      return;
    }
    if (!Poll.Pending()) Poll.Start(Loop, kNeighbourPollMs, [this] { LookForHeldCandidates(); });
  }

  // The first candidate in order that is not in use settles the choice, as checking them one
  // by one would. True when the choice has ended.
  bool Decide() {
    while (Decided < Candidates.size()) {
      const TCandidate& candidate = Candidates[Decided];
      switch (candidate.State) {
        case TState::Out:
          return false;
        case TState::InUse:
          ++Decided;
          continue;
        case TState::Free: {
          TAddressChoice choice;
          choice.Found = true;
          choice.Address = candidate.Address;
          choice.Mask = Order->Mask();
          choice.Gateway = Order->Gateway();
          End(choice);
          return true;
        }
        case TState::Failed: {
          TAddressChoice choice;
          choice.Error = candidate.Error;
          End(choice);
          return true;
        }
      }
    }
    return false;
  }

  void Take(std::size_t index, const TCheckResult& result) {
    TCandidate& candidate = Candidates[index];
    if (candidate.State != TState::Out) return;
    --Outstanding;
    switch (result.Outcome) {
      case TReachability::Reachable:
        candidate.State = TState::InUse;
        break;
      case TReachability::NotReachable:
        candidate.State = result.Held || Held(candidate.Address) ? TState::InUse : TState::Free;
        break;
      case TReachability::Failed:
        candidate.State = TState::Failed;
        candidate.Error = result.Error;
        break;
    }
    Advance();
  }

  // A host answered for the candidate at the link layer: in use, whatever its echo will say.
  void TakeHeld(std::size_t index) {
    TCandidate& candidate = Candidates[index];
    if (candidate.State != TState::Out) return;
    Checks.Cancel(candidate.Check);
    candidate.State = TState::InUse;
    --Outstanding;
    Advance();
  }

  static bool Held(const std::string& address) {
    return NeighbourTable().HeldAddresses().count(address) != 0;
  }

  // A candidate whose link-layer address the kernel has resolved is held by a host: in use,
  // whatever its echo check will say.
  void LookForHeldCandidates() {
    const std::set<std::string> held = NeighbourTable().HeldAddresses();
    for (TCandidate& candidate : Candidates) {
      if (candidate.State != TState::Out || held.count(candidate.Address) == 0) continue;
      Checks.Cancel(candidate.Check);
      candidate.State = TState::InUse;
      --Outstanding;
    }
    Advance();
  }

  void End(const TAddressChoice& choice) {
    const auto done = std::move(Done);
    Stop();
    if (done) done(choice);
  }

  TCandidateChecks Checks;
  TEventLoop& Loop;
  const std::size_t Window;
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);  // posted steps check it

  bool Running = false;
  unsigned Runs = 0;  // a posted start belongs to one run
  std::function<void(const TAddressChoice&)> Done;
  std::optional<TCandidateOrder> Order;
  std::vector<TCandidate> Candidates;  // started, in the order of the candidates
  std::size_t Decided = 0;             // candidates before this one are in use
  std::size_t Outstanding = 0;         // checks out
  TSingleShot Poll;                    // the next look at the neighbour table
};

TCandidateChecks ChecksOf(TReachabilityService& service) {
  return {[&service](const std::string& address, TCheckDone done, TCheckHeld held) {
            return service.Check(address, std::move(done), std::move(held));
          },
          [&service](TCheckId id) { service.Cancel(id); }};
}

TAddressChooser::TAddressChooser(TReachabilityService& service, TEventLoop& loop)
    : TAddressChooser(ChecksOf(service), loop) {}

TAddressChooser::TAddressChooser(TCandidateChecks checks, TEventLoop& loop, std::size_t window)
    : Impl(std::make_unique<TImpl>(std::move(checks), loop, window)) {}

TAddressChooser::~TAddressChooser() = default;

void TAddressChooser::Start(const std::string& localAddress,
                            std::function<void(const TAddressChoice&)> done) {
  Impl->Start(localAddress, std::move(done));
}

void TAddressChooser::Cancel() {
  Impl->Stop();
}

bool TAddressChooser::Running() const {
  return Impl->Running;
}

}  // namespace scoutor
