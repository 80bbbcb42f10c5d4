// The two paths of the reachability service over the same targets, in private namespaces:
//
//   lan: client 10.20.0.1/24 (also 10.30.0.0/16 on the link, no default route)
//        live 10.20.0.2, holder 10.20.0.3 (drops echo requests), nobody at 10.20.0.9,
//        confused 10.20.0.4 (sends its echo replies to a link-layer address nobody has)
//        router 10.20.0.254: unreachable for 10.77.0.0/24, proxy ARP for 10.30.5.0/24
//   router eth1 10.30.5.254/24 -- far 10.30.5.2
//
// The link layer's path must agree with the kernel's, case by case, must leave the client's
// neighbour table alone, and must pace its ARP requests.
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostnet/LinkLayerChecks.h"
#include "hostnet/ReachabilityService.h"
#include "runtime/HeadlessLoop.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using test::TNetnsBed;

struct TSeen {
  std::string Outcome;  // "reachable", "not reachable" or "failed", and ": error" when given
  TCheckPath Path = TCheckPath::Kernel;
  bool Held = false;
};

std::string Text(const TCheckResult& result) {
  std::string text = result.Outcome == TReachability::Reachable      ? "reachable"
                     : result.Outcome == TReachability::NotReachable ? "not reachable"
                                                                     : "failed";
  if (!result.Error.empty()) text += ": " + result.Error;
  return text;
}

const std::vector<std::string> kTargets = {
    "10.20.0.2",   // answers
    "10.20.0.9",   // nobody holds it
    "10.20.0.3",   // held by a host that drops echo requests
    "10.20.0.4",   // held by a host whose answers go to another link-layer address
    "10.77.0.9",   // the router answers unreachable
    "10.20.0.1",   // the client's own address
    "10.1.2.3",    // outside every subnet of the client, no route
    "10.30.5.2",   // behind the proxy-ARP router
    "10.30.5.9"};  // behind it too, nobody there: the router answers unreachable

class LinkLayerChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<TNetnsBed>();
    const std::string lan = Bed->AddSegment("lan");
    Client = Bed->AddHost("client");
    Bed->Attach(Client, lan, "eth0", "10.20.0.1/24");
    Bed->Run(Client, "ip route add 10.30.0.0/16 dev eth0");
    const std::string live = Bed->AddHost("live");
    Bed->Attach(live, lan, "eth0", "10.20.0.2/24");
    const std::string holder = Bed->AddHost("holder");
    Bed->Attach(holder, lan, "eth0", "10.20.0.3/24");
    Bed->Run(holder,
             "nft 'add table inet guard; add chain inet guard input "
             "{ type filter hook input priority 0; }; "
             "add rule inet guard input icmp type echo-request drop'");
    const std::string router = Bed->AddHost("router");
    Bed->Attach(router, lan, "eth0", "10.20.0.254/24");
    const std::string far = Bed->AddHost("far");
    Bed->Link(router, "eth1", "10.30.5.254/24", far, "eth0", "10.30.5.2/24");
    Bed->Run(far, "ip route add default via 10.30.5.254");
    Bed->Run(router,
             "sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.eth0.proxy_arp=1 "
             "net.ipv4.neigh.eth0.proxy_delay=0");
    Bed->Run(router, "ip route add unreachable 10.77.0.0/24");
    // The client's neighbour table must show what the client itself resolved. A peer that asks
    // for the client's address (an ARP probe before its entry goes stale) makes the client's
    // kernel note the asker, so the peers know the client for good.
    std::string clientMac = Bed->Run(Client, "ip -br link show dev eth0 | awk '{print $3}'");
    clientMac.erase(clientMac.find_last_not_of('\n') + 1);
    for (const std::string& peer : {live, holder, router})
      Bed->Run(peer, "ip neigh replace 10.20.0.1 lladdr " + clientMac + " dev eth0 nud permanent");
    // Its echo replies reach the client only as frames for another host, which the bridge
    // floods; its ARP replies go to the asker's own address.
    const std::string confused = Bed->AddHost("confused");
    Bed->Attach(confused, lan, "eth0", "10.20.0.4/24");
    Bed->Run(confused,
             "ip neigh replace 10.20.0.1 lladdr 02:00:00:00:00:77 dev eth0 nud permanent");
    Bed->Run(Client, "ip route add 10.77.0.0/24 via 10.20.0.254");
  }

  // Every target checked at once on one service, in real time, until all have ended (a check
  // ends within 3 s of ARP and 5 s of echo; the bound is generous).
  std::map<std::string, TSeen> CheckAll(bool linkLayer) {
    return Bed->InNamespace(Client, [&] {
      THeadlessLoop loop;
      TReachabilityOptions options;
      options.LinkLayer = linkLayer;
      TReachabilityService service(loop, options);
      std::map<std::string, TSeen> seen;
      for (const std::string& target : kTargets)
        service.Check(target, [&seen](const TCheckResult& result) {
          seen[result.Address] = {Text(result), result.Path, result.Held};
        });
      loop.RunUntil([&] { return seen.size() == kTargets.size(); }, 30000);
      return seen;
    });
  }

  std::unique_ptr<TNetnsBed> Bed;
  std::string Client;
};

TEST_F(LinkLayerChecks, AgreeWithTheKernelsPathCaseByCaseAndLeaveTheNeighbourTableAlone) {
  const std::map<std::string, TSeen> link = CheckAll(true);
  ASSERT_EQ(link.size(), kTargets.size());
  // Nothing the link layer resolved entered the client's neighbour table.
  const std::string neighbours = Bed->Run(Client, "ip -4 neigh show dev eth0");
  for (const char* resolved : {"10.20.0.2 ", "10.20.0.3 ", "10.20.0.4 ", "10.30.5.2 "})
    EXPECT_EQ(neighbours.find(resolved), std::string::npos) << neighbours;

  const std::map<std::string, TSeen> kernel = CheckAll(false);
  ASSERT_EQ(kernel.size(), kTargets.size());
  for (const std::string& target : kTargets)
    EXPECT_EQ(link.at(target).Outcome, kernel.at(target).Outcome) << target;

  const std::string noRoute = "not reachable: Socket Error # 101\r\nNetwork is unreachable.";
  const std::map<std::string, std::string> expected = {
      {"10.20.0.2", "reachable"},     {"10.20.0.9", "not reachable"},
      {"10.20.0.3", "not reachable"}, {"10.20.0.4", "not reachable"},
      {"10.77.0.9", "not reachable"}, {"10.20.0.1", "reachable"},
      {"10.1.2.3", noRoute},          {"10.30.5.2", "reachable"},
      {"10.30.5.9", "not reachable"}};
  for (const auto& [target, outcome] : expected)
    EXPECT_EQ(link.at(target).Outcome, outcome) << target;

  // Targets directly on the Ethernet link took the link layer; the rest stayed with the kernel.
  for (const char* direct :
       {"10.20.0.2", "10.20.0.9", "10.20.0.3", "10.20.0.4", "10.30.5.2", "10.30.5.9"})
    EXPECT_EQ(link.at(direct).Path, TCheckPath::LinkLayer) << direct;
  for (const char* other : {"10.77.0.9", "10.20.0.1", "10.1.2.3"})
    EXPECT_EQ(link.at(other).Path, TCheckPath::Kernel) << other;
  for (const auto& [target, seen] : kernel) EXPECT_EQ(seen.Path, TCheckPath::Kernel) << target;

  // Only the holder and the confused host answered ARP and not the echo.
  for (const auto& [target, seen] : link)
    EXPECT_EQ(seen.Held, target == "10.20.0.3" || target == "10.20.0.4") << target;
}

// The ARP requests the client sends, as a packet socket of its own sees them leave: the
// socket hears the host's outgoing frames inside the send, so each turn's count is exact.
// (Outgoing frames reach only sockets that take every protocol.)
class OutgoingArp {
 public:
  OutgoingArp() {
    Socket = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK, htons(ETH_P_ALL));
    EXPECT_GE(Socket, 0);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex("eth0"));
    EXPECT_EQ(bind(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~OutgoingArp() { close(Socket); }

  int Drain() {
    int count = 0;
    std::uint8_t frame[128];
    sockaddr_ll from{};
    socklen_t length = sizeof from;
    while (recvfrom(Socket, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&from), &length) >=
           0) {
      if (from.sll_pkttype == PACKET_OUTGOING && ntohs(from.sll_protocol) == ETH_P_ARP &&
          frame[7] == 1)  // a request
        ++count;
      length = sizeof from;
    }
    return count;
  }

 private:
  int Socket = -1;
};

TEST_F(LinkLayerChecks, ArpRequestsNeverExceedTheSetRateAndEachTargetIsTriedThreeTimes) {
  constexpr unsigned kRate = 50;
  constexpr int kTargetsNobodyHolds = 120;  // more than the rate: the queue never runs dry
  const auto sent = Bed->InNamespace(Client, [&] {
    TManualClock clock;
    THeadlessLoop loop(clock);
    TReachabilityOptions options;
    options.ArpPerSecond = kRate;
    options.Clock = &clock;
    TReachabilityService service(loop, options);
    OutgoingArp outgoing;
    int ended = 0;
    for (int host = 100; host < 100 + kTargetsNobodyHolds; ++host)
      service.Check("10.20.0." + std::to_string(host), [&ended](const TCheckResult& result) {
        EXPECT_EQ(result.Outcome, TReachability::NotReachable);
        ++ended;
      });
    std::vector<int> perStep;  // ARP requests sent in each 10 ms of the manual clock
    for (int step = 0; step < 1500 && ended < kTargetsNobodyHolds; ++step) {
      loop.Advance(clock, 10);
      perStep.push_back(outgoing.Drain());
    }
    EXPECT_EQ(ended, kTargetsNobodyHolds);
    return perStep;
  });
  int total = 0;
  int busiestSecond = 0;
  for (std::size_t end = 0; end < sent.size(); ++end) {
    total += sent[end];
    int inSecond = 0;
    for (std::size_t step = end >= 99 ? end - 99 : 0; step <= end; ++step) inSecond += sent[step];
    busiestSecond = std::max(busiestSecond, inSecond);
  }
  EXPECT_EQ(total, 3 * kTargetsNobodyHolds);
  EXPECT_LE(busiestSecond, static_cast<int>(kRate));
  EXPECT_GE(busiestSecond, static_cast<int>(kRate) - 2) << "the pacing should use its rate";
}

// A burst of checks is routed a few dozen per turn of the loop; a check cancelled before its
// turn never reports, and one nobody holds ends when its third ARP try goes unanswered.
TEST_F(LinkLayerChecks, AChecksPathIsChosenOnALaterTurnAndACancelBeforeThenIsFinal) {
  Bed->InNamespace(Client, [] {
    TManualClock clock;
    THeadlessLoop loop(clock);
    TReachabilityOptions options;
    options.Clock = &clock;
    TReachabilityService service(loop, options);
    std::vector<std::string> ended;
    const auto record = [&ended](const TCheckResult& result) {
      ended.push_back(result.Address +
                      (result.Path == TCheckPath::LinkLayer ? " link" : " kernel"));
    };
    std::vector<TCheckId> cancelled;
    for (int host = 100; host < 300; ++host) {
      const TCheckId id = service.Check("10.20.0." + std::to_string(host % 256), record);
      if (host != 150) cancelled.push_back(id);
    }
    EXPECT_EQ(service.Pending(), 200U);
    for (TCheckId id : cancelled) service.Cancel(id);
    EXPECT_EQ(service.Pending(), 1U);
    loop.Advance(clock, 3 * TLinkLayerChecks::kArpIntervalMs - 1);
    EXPECT_TRUE(ended.empty());
    loop.Advance(clock, 1);
    EXPECT_EQ(ended, std::vector<std::string>{"10.20.0.150 link"});
    EXPECT_EQ(service.Pending(), 0U);
  });
}

}  // namespace
}  // namespace scoutor
