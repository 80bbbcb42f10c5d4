#include "hostnet/KernelPathChecks.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <unordered_map>

#include "hostnet/NeighbourTable.h"
#include "runtime/Clock.h"
#include "runtime/DescriptorWatch.h"
#include "runtime/SingleShot.h"
#include "transport/IcmpPacket.h"
#include "transport/IcmpSocket.h"
#include "transport/SocketBinding.h"
#include "transport/SocketErrors.h"
#include "transport/SocketStack.h"

namespace scoutor {

namespace {

// Requests sent, or packets read, in one turn of the loop before other work gets its turn.
constexpr std::size_t kSendsPerTurn = 64;
constexpr std::size_t kPacketsPerTurn = 256;
// A request refused for want of room is tried again after this, doubling up to the maximum.
constexpr int kFirstRetryMs = 20;
constexpr int kLongestRetryMs = 1000;
// Kernel entries that block the neighbour table stay for up to about a minute; a table that
// stays full for longer than this many refusals in a row fails the waiting checks.
constexpr int kMostRefusals = 150;
// Room for a burst of answers (and other programs' ICMP traffic, which a raw socket sees too)
// while the loop is busy elsewhere.
constexpr int kReceiveBufferBytes = 4 << 20;
constexpr int kTimeToLive = 128;

void EnlargeReceiveBuffer(int fd) {
  // Root may go past net.core.rmem_max; others get what the limit allows.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes,
                 sizeof kReceiveBufferBytes) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
}

bool NothingMore(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

// Errors that an ICMP error answering an earlier request leaves on the socket; the call that
// reports one did nothing else and may be made again.
bool ReportedIcmpError(int error) {
  switch (error) {
    case EINTR:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case ECONNREFUSED:
    case EMSGSIZE:
    case EHOSTDOWN:
    case ENONET:
    case EPROTO:
      return true;
    default:
      return false;
  }
}

std::string SocketErrorText(int error) {
  return EIdSocketError(error).what();
}

}  // namespace

std::size_t NeighbourLimit() {
  std::size_t limit = 1024;
  std::ifstream file("/proc/sys/net/ipv4/neigh/default/gc_thresh3");
  std::size_t read = 0;
  if (file >> read && read >= 4) limit = read;
  return limit;
}

struct TKernelPathChecks::TImpl {
  struct TCheck {
    std::string Address;
    TCheckDone Done;
    bool Sent = false;
    TEchoQuestion Question{};
    TTimerId TimeOut = 0;
  };

  enum class TSendOutcome { Sent, SocketFull, NoRoom, NoRoute, Failed };

  TImpl(TEventLoop& loop, std::size_t maxOutstanding, std::uint16_t identifier)
      : Loop(loop),
        MaxOutstanding(std::max<std::size_t>(1, maxOutstanding)),
        NeighbourBudget(NeighbourLimit() - std::max<std::size_t>(16, NeighbourLimit() / 64)),
        OwnIdentifier(identifier) {}

  ~TImpl() {
    for (auto& [id, check] : Checks)
      if (check.Sent) Loop.StopTimer(check.TimeOut);
  }

  void Start(TCheckId id, const std::string& address, TCheckDone done) {
    TCheck& check = Checks[id];
    check.Address = address;
    check.Done = std::move(done);
    Waiting.push_back(id);
    SchedulePump();
  }

  bool Cancel(TCheckId id) {
    auto it = Checks.find(id);
    if (it == Checks.end()) return false;
    Forget(it);
    return true;
  }

  void CancelAll() {
    while (!Checks.empty()) Forget(Checks.begin());
    Waiting.clear();
  }

  // Removes a check that has ended or was cancelled; returns its callback.
  TCheckDone Forget(std::map<TCheckId, TCheck>::iterator it) {
    TCheck& check = it->second;
    if (check.Sent) {
      BySequence.erase(check.Question.Sequence);
      Loop.StopTimer(check.TimeOut);
    }
    TCheckDone done = std::move(check.Done);
    Checks.erase(it);
    if (Checks.empty()) {
      CloseSocket();
      Waiting.clear();
    } else {
      SchedulePump();  // room for a waiting check
    }
    return done;
  }

  // Ends a check and runs its callback, which may do anything with the service, also destroy
  // it: callers check Alive afterwards before touching members.
  void Finish(TCheckId id, TReachability outcome, const std::string& error = "") {
    auto it = Checks.find(id);
    if (it == Checks.end()) return;
    const TCheckResult result{it->second.Address, outcome, error, TCheckPath::Kernel};
    const TCheckDone done = Forget(it);
    if (done) done(result);
  }

  void SchedulePump() {
    if (PumpPosted) return;
    PumpPosted = true;
    Loop.Post([this, alive = std::weak_ptr<bool>(Alive)] {
      if (alive.expired()) return;
      PumpPosted = false;
      Pump();
    });
  }

  // Sends waiting requests while there is room, a few dozen per turn of the loop. Each may
  // make the kernel resolve a new neighbour; a sixty-fourth of the host's table (at least 16
  // entries) stays free for the host's other traffic.
  void Pump() {
    if (RetryLater.Pending() || WaitingForRoom.Active() || !HasWaiting()) return;
    std::size_t room = kSendsPerTurn;
    if (const std::optional<std::size_t> pinned = NeighbourTable().PinnedEntries())
      room = std::min(room, *pinned < NeighbourBudget ? NeighbourBudget - *pinned : 0);
    if (room == 0) {
      WaitForNeighbourRoom();
      return;
    }
    const std::weak_ptr<bool> alive = Alive;
    std::size_t sent = 0;
    while (BySequence.size() < MaxOutstanding && sent < room) {
      if (!HasWaiting()) return;
      if (!Socket && !OpenSocket()) return;
      const TCheckId id = NextWaiting();
      std::string error;
      switch (Send(id, error)) {
        case TSendOutcome::Sent:
          ++sent;
          break;
        case TSendOutcome::SocketFull:
          Waiting.push_front(id);
          WaitingForRoom.Start(Loop, Socket->Handle(), TWatchKind::Write, [this] {
            WaitingForRoom.Stop();
            Pump();
          });
          return;
        case TSendOutcome::NoRoom:
          Waiting.push_front(id);
          WaitForNeighbourRoom();
          return;
        case TSendOutcome::NoRoute:
          Finish(id, TReachability::NotReachable, error);
          if (alive.expired()) return;
          break;
        case TSendOutcome::Failed:
          Finish(id, TReachability::Failed, error);
          if (alive.expired()) return;
          break;
      }
    }
    if (!Waiting.empty() && BySequence.size() < MaxOutstanding) SchedulePump();
  }

  // Tries again later; a table that stays full for minutes fails the waiting checks.
  void WaitForNeighbourRoom() {
    if (++Refusals > kMostRefusals) {
      FailWaiting(SocketErrorText(ENOBUFS));
      return;
    }
    RetryLater.Start(Loop, RetryMs, [this] { Pump(); });
    RetryMs = std::min(RetryMs * 2, kLongestRetryMs);
  }

  // Drops cancelled checks from the front of the queue.
  bool HasWaiting() {
    while (!Waiting.empty() && Checks.count(Waiting.front()) == 0) Waiting.pop_front();
    return !Waiting.empty();
  }

  // The first waiting check that is still pending, taken off the queue; 0 when none.
  TCheckId NextWaiting() {
    while (!Waiting.empty()) {
      const TCheckId id = Waiting.front();
      Waiting.pop_front();
      if (Checks.count(id) != 0) return id;
    }
    return 0;
  }

  // Opens the one ICMP socket; when it cannot be opened, every waiting check fails with why.
  bool OpenSocket() {
    auto socket = std::make_unique<TSocketBinding>();
    try {
      Kind = TIcmpSocket::Open(*socket, IPPROTO_ICMP);
      socket->SetOption(IPPROTO_IP, IP_TTL, kTimeToLive);
      // A raw socket drops a request silently when the neighbour table is full unless it
      // reports errors: with IP_RECVERR the send says ENOBUFS and the request can wait.
      if (Kind == TIcmpSocketKind::Raw) socket->SetOption(IPPROTO_IP, IP_RECVERR, 1);
    } catch (const EIdException& error) {
      FailWaiting(error.what());
      return false;
    }
    const int fd = socket->Handle();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    EnlargeReceiveBuffer(fd);
    Socket = std::move(socket);
    WireIdentifier = OwnIdentifier;
    IdentifierKnown = Kind == TIcmpSocketKind::Raw;
    Readable.Start(Loop, fd, TWatchKind::Read, [this] { ReadAnswers(); });
    return true;
  }

  void CloseSocket() {
    Readable.Stop();
    WaitingForRoom.Stop();
    RetryLater.Stop();
    Socket.reset();
  }

  void FailWaiting(const std::string& error) {
    const std::weak_ptr<bool> alive = Alive;
    for (TCheckId id = NextWaiting(); id != 0; id = NextWaiting()) {
      Finish(id, TReachability::Failed, error);
      if (alive.expired()) return;
    }
  }

  void FailOutstanding(const std::string& error) {
    const std::weak_ptr<bool> alive = Alive;
    std::vector<TCheckId> outstanding;
    for (const auto& [sequence, id] : BySequence) outstanding.push_back(id);
    for (TCheckId id : outstanding) {
      Finish(id, TReachability::Failed, error);
      if (alive.expired()) return;
    }
  }

  std::uint16_t FreeSequence() {
    while (BySequence.count(NextSequence) != 0) ++NextSequence;
    return NextSequence++;
  }

  TSendOutcome Send(TCheckId id, std::string& error) {
    TCheck& check = Checks.at(id);
    TAddressBytes target;
    try {
      target = TSocketStack::TextToAddress(TSocketStack::LookupAddress(check.Address));
    } catch (const EIdException& lookup) {
      error = lookup.what();
      return TSendOutcome::Failed;
    }
    const std::uint16_t sequence = FreeSequence();
    std::uint8_t request[kEchoRequestLength];
    BuildEchoRequest(request, OwnIdentifier, sequence,
                     static_cast<std::uint32_t>(SteadyClock().NowMs()));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr.s_addr, target.data(), 4);

    // A failed send is made once more at once: the error may be one an ICMP error left on
    // the socket, reported by this call instead of sending.
    for (int attempt = 0;; ++attempt) {
      const ssize_t sent = sendto(Socket->Handle(), request, sizeof request, 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
      if (sent == static_cast<ssize_t>(sizeof request)) break;
      if (sent >= 0) {
        error = EIdNotAllBytesSent().what();
        return TSendOutcome::Failed;
      }
      const int code = errno;
      if (NothingMore(code)) return TSendOutcome::SocketFull;
      if (code == ENOBUFS) return TSendOutcome::NoRoom;
      if (attempt < 2 && ReportedIcmpError(code)) continue;
      error = SocketErrorText(code);
      // The routing table knows no way there: that is an answer, not a failure to check.
      return code == ENETUNREACH || code == EHOSTUNREACH ? TSendOutcome::NoRoute
                                                         : TSendOutcome::Failed;
    }
    Refusals = 0;
    RetryMs = kFirstRetryMs;
    if (!IdentifierKnown) {
      // The datagram socket puts its own port into the identifier: known after the first send.
      WireIdentifier = TIcmpSocket::SentIdentifier(*Socket, Kind, OwnIdentifier);
      IdentifierKnown = true;
    }
    check.Sent = true;
    check.Question = TEchoQuestion{target, WireIdentifier, sequence};
    BySequence.emplace(sequence, id);
    check.TimeOut = Loop.StartSingleShot(kCheckTimeoutMs,
                                         [this, id] { Finish(id, TReachability::NotReachable); });
    return TSendOutcome::Sent;
  }

  void ReadAnswers() {
    const std::weak_ptr<bool> alive = Alive;
    if (Kind == TIcmpSocketKind::Raw) DiscardErrorQueue();
    for (std::size_t n = 0; n < kPacketsPerTurn && Socket; ++n) {
      const int count = TIcmpSocket::Receive(*Socket, Kind, Received.data(), Received.size());
      if (count == 0) return;  // nothing (more) to read this turn
      if (count < 0) {
        const int code = errno;
        if (NothingMore(code)) return;
        if (ReportedIcmpError(code)) continue;
        FailOutstanding(SocketErrorText(code));
        if (alive.expired()) return;
        CloseSocket();
        SchedulePump();
        return;
      }
      Match(static_cast<std::size_t>(count));
      if (alive.expired()) return;
    }
  }

  // A raw socket with IP_RECVERR also queues every ICMP error on its error queue, which takes
  // from the same receive buffer; the errors themselves arrive as ordinary packets.
  void DiscardErrorQueue() {
    std::uint8_t discard[576];
    for (int n = 0; n < static_cast<int>(kPacketsPerTurn); ++n)
      if (recv(Socket->Handle(), discard, sizeof discard, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return;
  }

  // Ends the check that the packet answers, if any.
  void Match(std::size_t count) {
    const std::optional<std::uint16_t> sequence = CandidateSequence(Received.data(), count);
    if (!sequence) return;
    const auto found = BySequence.find(*sequence);
    if (found == BySequence.end()) return;
    const TCheckId id = found->second;
    switch (ClassifyAnswer(Received.data(), count, Checks.at(id).Question)) {
      case TIcmpAnswer::Echo:
        Finish(id, TReachability::Reachable);
        return;
      case TIcmpAnswer::Unreachable:
      case TIcmpAnswer::TtlExceeded:
        Finish(id, TReachability::NotReachable);
        return;
      case TIcmpAnswer::OtherType:
        Finish(id, TReachability::Failed, "Non-echo type response received");
        return;
      case TIcmpAnswer::TooShort:
      case TIcmpAnswer::Unrelated:
        return;
    }
  }

  TEventLoop& Loop;
  const std::size_t MaxOutstanding;
  const std::size_t NeighbourBudget;  // entries the table may hold pinned before we wait
  const std::uint16_t OwnIdentifier;
  std::shared_ptr<bool> Alive = std::make_shared<bool>(true);  // posted steps check it

  std::map<TCheckId, TCheck> Checks;                       // every pending check, waiting or out
  std::deque<TCheckId> Waiting;                            // not sent yet, in the order started
  std::unordered_map<std::uint16_t, TCheckId> BySequence;  // out, unanswered
  std::uint16_t NextSequence = 0;
  bool PumpPosted = false;

  std::unique_ptr<TSocketBinding> Socket;
  TIcmpSocketKind Kind = TIcmpSocketKind::Raw;
  std::uint16_t WireIdentifier = 0;
  bool IdentifierKnown = false;
  TDescriptorWatch Readable;
  TDescriptorWatch WaitingForRoom;  // the send buffer is full
  TSingleShot RetryLater;           // the neighbour table is full
  int RetryMs = kFirstRetryMs;
  int Refusals = 0;
  std::array<std::uint8_t, 1024> Received{};
};

TKernelPathChecks::TKernelPathChecks(TEventLoop& loop, std::size_t maxOutstanding,
                                     std::uint16_t identifier)
    : Impl(std::make_unique<TImpl>(loop, maxOutstanding, identifier)) {}

TKernelPathChecks::~TKernelPathChecks() = default;

void TKernelPathChecks::Start(TCheckId id, const std::string& address, TCheckDone done) {
  Impl->Start(id, address, std::move(done));
}

bool TKernelPathChecks::Cancel(TCheckId id) {
  return Impl->Cancel(id);
}

void TKernelPathChecks::CancelAll() {
  Impl->CancelAll();
}

std::size_t TKernelPathChecks::Pending() const {
  return Impl->Checks.size();
}

}  // namespace scoutor
