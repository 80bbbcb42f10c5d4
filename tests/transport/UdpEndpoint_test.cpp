#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/EventLoop.h"
#include "runtime/HeadlessLoop.h"
#include "transport/SocketBinding.h"
#include "transport/SocketErrors.h"
#include "transport/UdpEndpoint.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using test::TNetnsBed;

constexpr int kVep = 17784;
constexpr int kPatienceMs = 10000;  // generous: events are waited for, never slept for

// What OnUDPRead saw for one datagram.
struct TReceived {
  std::string Data;
  std::size_t Size = 0;
  std::size_t Position = 0;
  std::string BindingIP;
  int BindingPort = 0;
  std::string RemoteIP;
  int RemotePort = 0;
  std::thread::id Thread;
};

// Records every datagram the endpoint reports; safe for threaded events too.
class TRecorder {
 public:
  void Attach(TUdpEndpoint& endpoint) {
    endpoint.OnUDPRead = [this](TUdpEndpoint&, TByteStream& data, TSocketBinding& binding) {
      TReceived got;
      got.Size = data.Size();
      got.Position = data.Position();
      got.Data.assign(reinterpret_cast<const char*>(data.Bytes()), data.Size());
      got.BindingIP = binding.IP;
      got.BindingPort = binding.Port;
      got.RemoteIP = binding.RemoteIP;
      got.RemotePort = binding.RemotePort;
      got.Thread = std::this_thread::get_id();
      std::lock_guard lock(Mutex);
      Seen.push_back(got);
    };
  }
  std::size_t Count() {
    std::lock_guard lock(Mutex);
    return Seen.size();
  }
  std::vector<TReceived> All() {
    std::lock_guard lock(Mutex);
    return Seen;
  }
  bool Has(const std::string& data) {
    std::lock_guard lock(Mutex);
    for (const auto& got : Seen)
      if (got.Data == data) return true;
    return false;
  }

 private:
  std::mutex Mutex;
  std::vector<TReceived> Seen;
};

// A plain socket acting as a device: bound to the any-address on `port` in the calling
// thread's namespace.
std::unique_ptr<TSocketBinding> OpenPeer(int port) {
  auto peer = std::make_unique<TSocketBinding>();
  peer->Port = port;
  peer->Open(SOCK_DGRAM, 0);
  peer->BindLocal();
  return peer;
}

std::unique_ptr<TSocketBinding> PeerIn(TNetnsBed& bed, const std::string& ns, int port) {
  return bed.InNamespace(ns, [&] { return OpenPeer(port); });
}

// The next datagram the socket gets, as text ("<nothing>" after the patience ran out).
std::string NextText(TSocketBinding& socket, std::string* from = nullptr) {
  if (!socket.WaitReadable(kPatienceMs)) return "<nothing>";
  char buffer[512];
  std::string ip;
  int port = 0;
  const int got = socket.ReceiveFrom(buffer, sizeof buffer, ip, port);
  if (from != nullptr) *from = ip;
  return got < 0 ? "<error>" : std::string(buffer, static_cast<std::size_t>(got));
}

int SocketBroadcastOption(const TSocketBinding& binding) {
  int value = -7;
  socklen_t length = sizeof value;
  getsockopt(binding.Handle(), SOL_SOCKET, SO_BROADCAST, &value, &length);
  return value;
}

// ---- On loopback in the host's namespace -------------------------------------------------

class UdpEndpointLoopback : public ::testing::Test {
 protected:
  UdpEndpointLoopback() : Scope(Loop) {}
  void SetUp() override {
    Peer.IP = "127.0.0.1";
    Peer.Open(SOCK_DGRAM, 0);
    Peer.BindLocal();
  }
  // One binding on 127.0.0.1 with a port the system chooses, opened.
  TSocketBinding& Activate() {
    Endpoint.Bindings.AddBinding().IP = "127.0.0.1";
    Recorder.Attach(Endpoint);
    return Endpoint.GetSocket();
  }

  THeadlessLoop Loop;
  TMainLoopScope Scope;
  TSocketBinding Peer;
  TRecorder Recorder;
  TUdpEndpoint Endpoint;  // last: deactivated before the loop goes
};

TEST_F(UdpEndpointLoopback, NoBindingsAndNoDefaultPortRaisesAtTheFirstSend) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      Endpoint.SendDatagram("127.0.0.1", Peer.Port, "x", 1);
      FAIL() << "sent without bindings";
    } catch (const EIdNoBindingsSpecified& e) {
      EXPECT_STREQ(e.what(), "No bindings specified.");
    }
    EXPECT_FALSE(Endpoint.Active());
    EXPECT_EQ(Endpoint.Bindings.Count(), 0u);
  }
}

TEST_F(UdpEndpointLoopback, DatagramReachesTheHandlerWhole) {
  const TSocketBinding& binding = Activate();
  ASSERT_NE(binding.Port, 0);
  EXPECT_EQ(binding.IP, "127.0.0.1");
  // 27 bytes, as a VEP header: version, flags, destination, source, class, method.
  const std::uint8_t datagram[27] = {0x01, 0x00, 0x00, 0x02, 0x7F, 0x00, 0x00, 0x01, 0x45,
                                     0x78, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                     0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0xAA};
  Peer.Transmit("127.0.0.1", binding.Port, datagram, sizeof datagram);
  ASSERT_TRUE(Loop.RunUntil([&] { return Recorder.Count() == 1; }, kPatienceMs));
  const TReceived got = Recorder.All()[0];
  EXPECT_EQ(got.Size, 27u);
  EXPECT_EQ(got.Position, 0u);
  EXPECT_EQ(got.Data, std::string(reinterpret_cast<const char*>(datagram), 27));
  EXPECT_EQ(got.RemoteIP, "127.0.0.1");
  EXPECT_EQ(got.RemotePort, Peer.Port);
  EXPECT_EQ(got.BindingIP, "127.0.0.1");
  EXPECT_EQ(got.BindingPort, binding.Port);
  EXPECT_EQ(got.Thread, std::this_thread::get_id());
}

TEST_F(UdpEndpointLoopback, ThreadedEventRunsTheHandlerOnTheListener) {
  Endpoint.ThreadedEvent = true;
  const TSocketBinding& binding = Activate();
  Peer.Transmit("127.0.0.1", binding.Port, "threaded", 8);
  for (int i = 0; i < kPatienceMs && Recorder.Count() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(Recorder.Count(), 1u);
  EXPECT_NE(Recorder.All()[0].Thread, std::this_thread::get_id());
}

TEST_F(UdpEndpointLoopback, EmptyDatagramIsSkippedAndListeningGoesOn) {
  const TSocketBinding& binding = Activate();
  Peer.Transmit("127.0.0.1", binding.Port, "", 0);
  Peer.Transmit("127.0.0.1", binding.Port, "good", 4);
  ASSERT_TRUE(Loop.RunUntil([&] { return Recorder.Has("good"); }, kPatienceMs));
  EXPECT_EQ(Recorder.Count(), 1u);
}

TEST_F(UdpEndpointLoopback, HandlerErrorDropsThatDatagramOnly) {
  const TSocketBinding& binding = Activate();
  int calls = 0;
  Endpoint.OnUDPRead = [&](TUdpEndpoint&, TByteStream& data, TSocketBinding&) {
    ++calls;
    if (data.Size() == 3) throw std::runtime_error("bad datagram");
  };
  Peer.Transmit("127.0.0.1", binding.Port, "bad", 3);
  Peer.Transmit("127.0.0.1", binding.Port, "fine", 4);
  EXPECT_TRUE(Loop.RunUntil([&] { return calls == 2; }, kPatienceMs));
}

TEST_F(UdpEndpointLoopback, BroadcastOptionIsWrittenOnEveryBindingAtActivation) {
  Endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  Endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  Endpoint.SetBroadcastEnabled(true);
  Endpoint.SetActive(true);
  EXPECT_NE(SocketBroadcastOption(Endpoint.Bindings[0]), 0);
  EXPECT_NE(SocketBroadcastOption(Endpoint.Bindings[1]), 0);
  Endpoint.SetBroadcastEnabled(false);  // while active: at once, on every binding
  EXPECT_EQ(SocketBroadcastOption(Endpoint.Bindings[0]), 0);
  EXPECT_EQ(SocketBroadcastOption(Endpoint.Bindings[1]), 0);
}

TEST_F(UdpEndpointLoopback, DeactivationClosesEveryBindingAndResetsItsAddress) {
  Endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  Endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  Endpoint.SetActive(true);
  ASSERT_TRUE(Endpoint.Active());
  ASSERT_NE(Endpoint.Bindings[1].Port, 0);
  Endpoint.SetActive(false);
  EXPECT_FALSE(Endpoint.Active());
  EXPECT_EQ(Endpoint.CurrentBinding(), nullptr);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_FALSE(Endpoint.Bindings[i].Allocated());
    EXPECT_EQ(Endpoint.Bindings[i].IP, "");
    EXPECT_EQ(Endpoint.Bindings[i].Port, 0);
  }
}

TEST_F(UdpEndpointLoopback, ReceiveIntoWithoutTrafficReturnsZeroAndAnEmptyPeer) {
  Activate();
  Endpoint.ReceiveTimeout = 100;
  char buffer[64];
  std::string peerIP = "stale";
  int peerPort = 7;
  EXPECT_EQ(Endpoint.ReceiveInto(buffer, sizeof buffer, peerIP, peerPort), 0);
  EXPECT_EQ(peerIP, "");
  EXPECT_EQ(peerPort, 0);
}

TEST_F(UdpEndpointLoopback, SendsLeaveThroughTheCurrentBinding) {
  const TSocketBinding& binding = Activate();
  Endpoint.SendDatagram("LOCALHOST", Peer.Port, "hello", 5);
  ASSERT_TRUE(Peer.WaitReadable(kPatienceMs));
  char buffer[16];
  std::string fromIP;
  int fromPort = 0;
  ASSERT_EQ(Peer.ReceiveFrom(buffer, sizeof buffer, fromIP, fromPort), 5);
  EXPECT_EQ(fromPort, binding.Port);
}

// A socket on loopback address `ip` with a port the system chooses, opened and bound.
std::unique_ptr<TSocketBinding> LoopbackPeer(const std::string& ip) {
  auto peer = std::make_unique<TSocketBinding>();
  peer->IP = ip;
  peer->Open(SOCK_DGRAM, 0);
  peer->BindLocal();
  return peer;
}

TEST_F(UdpEndpointLoopback, DatagramsQueuedBeforeTheLoopRunsAreDispatchedInOrderEachWithItsSource) {
  const TSocketBinding& binding = Activate();
  auto second = LoopbackPeer("127.0.0.2");
  auto third = LoopbackPeer("127.0.0.3");
  // All queued before this thread handles anything: the listener holds them in one batch or
  // a few.
  Peer.Transmit("127.0.0.1", binding.Port, "one", 3);
  second->Transmit("127.0.0.1", binding.Port, "two", 3);
  third->Transmit("127.0.0.1", binding.Port, "three", 5);
  Peer.Transmit("127.0.0.1", binding.Port, "four", 4);
  ASSERT_TRUE(Loop.RunUntil([&] { return Recorder.Count() == 4; }, kPatienceMs));
  const std::vector<TReceived> got = Recorder.All();
  const std::pair<std::string, const TSocketBinding*> expected[] = {
      {"one", &Peer}, {"two", second.get()}, {"three", third.get()}, {"four", &Peer}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(got[i].Data, expected[i].first);
    EXPECT_EQ(got[i].Size, expected[i].first.size());
    EXPECT_EQ(got[i].Position, 0u);
    EXPECT_EQ(got[i].RemoteIP, expected[i].second->IP) << expected[i].first;
    EXPECT_EQ(got[i].RemotePort, expected[i].second->Port) << expected[i].first;
    EXPECT_EQ(got[i].Thread, std::this_thread::get_id());
  }
}

TEST_F(UdpEndpointLoopback, EmptyDatagramsAmongQueuedOnesAreSkippedAndTheRestKeepTheirBytes) {
  const TSocketBinding& binding = Activate();
  Peer.Transmit("127.0.0.1", binding.Port, "", 0);
  Peer.Transmit("127.0.0.1", binding.Port, "alpha", 5);
  Peer.Transmit("127.0.0.1", binding.Port, "", 0);
  Peer.Transmit("127.0.0.1", binding.Port, "", 0);
  Peer.Transmit("127.0.0.1", binding.Port, "bravo!", 6);
  Peer.Transmit("127.0.0.1", binding.Port, "charlie", 7);
  ASSERT_TRUE(Loop.RunUntil([&] { return Recorder.Has("charlie"); }, kPatienceMs));
  const std::vector<TReceived> got = Recorder.All();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].Data, "alpha");
  EXPECT_EQ(got[1].Data, "bravo!");
  EXPECT_EQ(got[2].Data, "charlie");
}

TEST_F(UdpEndpointLoopback, HandlerErrorAmongQueuedDatagramsDropsThatOneOnly) {
  const TSocketBinding& binding = Activate();
  std::vector<std::string> handled;
  Endpoint.OnUDPRead = [&](TUdpEndpoint&, TByteStream& data, TSocketBinding&) {
    const std::string text(reinterpret_cast<const char*>(data.Bytes()), data.Size());
    if (text == "bad") throw std::runtime_error("bad datagram");
    handled.push_back(text);
  };
  for (const char* text : {"first", "bad", "second", "bad", "third"})
    Peer.Transmit("127.0.0.1", binding.Port, text, std::string(text).size());
  ASSERT_TRUE(Loop.RunUntil([&] { return handled.size() == 3; }, kPatienceMs));
  EXPECT_EQ(handled, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(UdpEndpointLoopback, BurstOfAThousandQueuedWhileTheLoopIsBusyArrivesWhole) {
  const TSocketBinding& binding = Activate();
  int receiveBuffer = 0;
  socklen_t size = sizeof receiveBuffer;
  getsockopt(binding.Handle(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, &size);
  if (receiveBuffer < 2 * 1024 * 1024)
    GTEST_SKIP() << "receive buffers are limited to " << receiveBuffer
                 << " bytes here (net.core.rmem_max); run as root";
  // 41 bytes each, as a discovery reply; numbered so that order and loss both show.
  for (int i = 0; i < 1000; ++i) {
    std::string datagram = "reply " + std::to_string(i);
    datagram.resize(41, '.');
    Peer.Transmit("127.0.0.1", binding.Port, datagram.data(), datagram.size());
  }
  ASSERT_TRUE(Loop.RunUntil([&] { return Recorder.Count() == 1000; }, kPatienceMs))
      << Recorder.Count() << " of 1000 arrived";
  const std::vector<TReceived> got = Recorder.All();
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(got[i].Data.substr(0, got[i].Data.find('.')), "reply " + std::to_string(i));
}

// A main loop that tells how many hand-overs are waiting for it.
class TWatchedLoop final : public TEventLoop {
 public:
  void HandOver(std::function<void()> step) override {
    ++HandOvers;
    ++Waiting;
    Inner.HandOver(std::move(step));
    --Waiting;
  }
  TTimerId StartTimer(int intervalMs, std::function<void()> tick) override {
    return Inner.StartTimer(intervalMs, std::move(tick));
  }
  TTimerId StartSingleShot(int delayMs, std::function<void()> step) override {
    return Inner.StartSingleShot(delayMs, std::move(step));
  }
  void StopTimer(TTimerId id) override { Inner.StopTimer(id); }
  TWatchId WatchDescriptor(int descriptor, TWatchKind kind, std::function<void()> ready) override {
    return Inner.WatchDescriptor(descriptor, kind, std::move(ready));
  }
  void StopWatching(TWatchId id) override { Inner.StopWatching(id); }
  void Post(std::function<void()> step) override { Inner.Post(std::move(step)); }
  void ServiceHandOversUntil(const std::function<bool()>& done) override {
    Inner.ServiceHandOversUntil(done);
  }
  void Wake() override { Inner.Wake(); }
  bool IsLoopThread() const override { return Inner.IsLoopThread(); }

  THeadlessLoop Inner;
  std::atomic<int> Waiting{0};
  std::atomic<int> HandOvers{0};
};

TEST(UdpEndpointDeactivation, ServicesAHandOverThatIsWaitingMeanwhile) {
  TWatchedLoop loop;
  TMainLoopScope scope(loop);
  auto peer = LoopbackPeer("127.0.0.1");
  int handled = 0;
  TUdpEndpoint endpoint;
  endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  endpoint.OnUDPRead = [&](TUdpEndpoint&, TByteStream&, TSocketBinding&) { ++handled; };
  const int port = endpoint.GetSocket().Port;
  peer->Transmit("127.0.0.1", port, "pending", 7);
  // The listener now blocks in its hand-over, since this thread runs no loop.
  for (int i = 0; i < kPatienceMs && loop.Waiting.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(loop.Waiting.load(), 1);
  endpoint.SetActive(false);
  EXPECT_EQ(handled, 1);
  EXPECT_FALSE(endpoint.Active());
}

TEST(UdpEndpointBatching, DatagramsQueuedDuringAHandOverFollowInOneMoreHandOver) {
  TWatchedLoop loop;
  TMainLoopScope scope(loop);
  auto peer = LoopbackPeer("127.0.0.1");
  std::vector<std::string> handled;
  TUdpEndpoint endpoint;
  endpoint.Bindings.AddBinding().IP = "127.0.0.1";
  endpoint.OnUDPRead = [&](TUdpEndpoint&, TByteStream& data, TSocketBinding&) {
    handled.emplace_back(reinterpret_cast<const char*>(data.Bytes()), data.Size());
  };
  const int port = endpoint.GetSocket().Port;
  peer->Transmit("127.0.0.1", port, "first", 5);
  // The listener now blocks in its hand-over, since this thread runs no loop yet.
  for (int i = 0; i < kPatienceMs && loop.Waiting.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(loop.Waiting.load(), 1);
  std::vector<std::string> sent{"first"};
  for (int i = 1; i <= 20; ++i) {
    sent.push_back("next " + std::to_string(i));
    peer->Transmit("127.0.0.1", port, sent.back().data(), sent.back().size());
  }
  ASSERT_TRUE(loop.Inner.RunUntil([&] { return handled.size() == sent.size(); }, kPatienceMs));
  EXPECT_EQ(handled, sent);
  EXPECT_EQ(loop.HandOvers.load(), 2);
}

// ---- Inside private namespaces -----------------------------------------------------------

// Runs `work` in namespace `ns` with a headless main loop of its own.
template <class F>
void OnHost(TNetnsBed& bed, const std::string& ns, F&& work) {
  bed.InNamespace(ns, [&] {
    THeadlessLoop loop;
    TMainLoopScope scope(loop);
    work(loop);
  });
}

TEST(UdpEndpointNetns, DefaultPortBindsTheAnyAddressAndListensThere) {
  SCOUTOR_REQUIRE_NETNS();
  TNetnsBed bed;
  const std::string host = bed.AddHost("h");
  const std::string device = bed.AddHost("d");
  bed.Link(host, "eth0", "10.9.0.1/24", device, "eth0", "10.9.0.2/24");
  auto peer = PeerIn(bed, device, 0);
  OnHost(bed, host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    endpoint.SetDefaultPort(kVep);
    endpoint.SetActive(true);
    ASSERT_EQ(endpoint.Bindings.Count(), 1u);
    EXPECT_EQ(endpoint.Bindings[0].IP, "0.0.0.0");
    EXPECT_EQ(endpoint.Bindings[0].Port, kVep);
    peer->Transmit("10.9.0.1", kVep, "reply", 5);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Count() == 1; }, kPatienceMs));
    const TReceived got = recorder.All()[0];
    EXPECT_EQ(got.BindingIP, "0.0.0.0");
    EXPECT_EQ(got.RemoteIP, "10.9.0.2");
    EXPECT_EQ(got.RemotePort, peer->Port);
  });
}

TEST(UdpEndpointNetns, BroadcastWithoutDefaultRouteLeavesThroughTheOnlyInterface) {
  SCOUTOR_REQUIRE_NETNS();
  // The installer's laptop wired straight to a device: one static address, no default route.
  TNetnsBed bed;
  const std::string host = bed.AddHost("h");
  const std::string device = bed.AddHost("d");
  bed.Link(host, "eth0", "10.9.0.1/24", device, "eth0", "10.9.0.2/24");
  auto peer = PeerIn(bed, device, kVep);
  OnHost(bed, host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    endpoint.SetBroadcastEnabled(true);
    endpoint.SetDefaultPort(kVep);
    // What the routing table alone would do with it:
    try {
      endpoint.SendDatagram("255.255.255.255", kVep, "routed", 6);
      ADD_FAILURE() << "the routing table had a way for the limited broadcast";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), ENETUNREACH);
    }
    endpoint.BroadcastDatagram(kVep, "discover", 8);
    std::string from;
    EXPECT_EQ(NextText(*peer, &from), "discover");
    EXPECT_EQ(from, "10.9.0.1");
    // The host hears its own broadcast.
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("discover"); }, kPatienceMs));
    const TReceived got = recorder.All()[0];
    EXPECT_EQ(got.BindingIP, "0.0.0.0");
    EXPECT_EQ(got.RemoteIP, "10.9.0.1");
  });
}

TEST(UdpEndpointNetns, BroadcastOnTheAnyAddressReachesEverySegment) {
  SCOUTOR_REQUIRE_NETNS();
  TNetnsBed bed;
  const std::string host = bed.AddHost("h");
  const std::string left = bed.AddSegment("left");
  const std::string right = bed.AddSegment("right");
  const std::string d1 = bed.AddHost("d1");
  const std::string d2 = bed.AddHost("d2");
  bed.Attach(host, left, "eth0", "10.1.0.1/24");
  bed.Attach(host, right, "eth1", "192.168.7.1/24");
  bed.Attach(d1, left, "eth0", "10.1.0.2/24");
  bed.Attach(d2, right, "eth0", "192.168.7.2/24");
  auto peer1 = PeerIn(bed, d1, kVep);
  auto peer2 = PeerIn(bed, d2, kVep);
  OnHost(bed, host, [&](THeadlessLoop&) {
    TUdpEndpoint endpoint;
    endpoint.SetBroadcastEnabled(true);
    endpoint.SetDefaultPort(kVep);
    endpoint.BroadcastDatagram(kVep, "discover", 8);
  });
  std::string from1, from2;
  EXPECT_EQ(NextText(*peer1, &from1), "discover");
  EXPECT_EQ(from1, "10.1.0.1");
  EXPECT_EQ(NextText(*peer2, &from2), "discover");
  EXPECT_EQ(from2, "192.168.7.1");
}

// A host with two interfaces, A (10.1.0.1) towards device pa and B (10.2.0.1) towards pb.
class UdpEndpointTwoBindings : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Host = Bed.AddHost("h");
    DeviceA = Bed.AddHost("pa");
    DeviceB = Bed.AddHost("pb");
    Bed.Link(Host, "a0", "10.1.0.1/24", DeviceA, "eth0", "10.1.0.2/24");
    Bed.Link(Host, "b0", "10.2.0.1/24", DeviceB, "eth0", "10.2.0.2/24");
    // Devices answer with limited broadcasts; give them a way out for those.
    Bed.Run(DeviceA, "ip route add default dev eth0");
    Bed.Run(DeviceB, "ip route add default dev eth0");
    PeerA = PeerIn(Bed, DeviceA, kVep);
    PeerB = PeerIn(Bed, DeviceB, kVep);
  }
  // Sends `text` to device A by the host's routing table, not through the endpoint.
  void UnicastToA(const std::string& text) {
    TSocketBinding plain;
    plain.Open(SOCK_DGRAM, 0);
    plain.Transmit("10.1.0.2", kVep, text.data(), text.size());
  }
  static void AddBindings(TUdpEndpoint& endpoint, const std::vector<std::string>& addresses) {
    for (const auto& address : addresses) {
      TSocketBinding& binding = endpoint.Bindings.AddBinding();
      binding.IP = address;
      binding.Port = kVep;
    }
    endpoint.SetBroadcastEnabled(true);
  }

  TNetnsBed Bed;
  std::string Host, DeviceA, DeviceB;
  std::unique_ptr<TSocketBinding> PeerA, PeerB;
};

TEST_F(UdpEndpointTwoBindings, SendsFollowTheBindingOfTheLatestDatagram) {
  OnHost(Bed, Host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    AddBindings(endpoint, {"10.1.0.1", "10.2.0.1"});
    endpoint.SendDatagram("255.255.255.255", kVep, "first", 5);
    EXPECT_EQ(NextText(*PeerA), "first");
    // The host hears its own broadcast too, which moves the current binding as well.
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("first"); }, kPatienceMs));

    PeerB->Transmit("10.2.0.1", kVep, "from B", 6);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("from B"); }, kPatienceMs));
    EXPECT_EQ(recorder.All().back().BindingIP, "10.2.0.1");
    endpoint.SendDatagram("255.255.255.255", kVep, "second", 6);
    EXPECT_EQ(NextText(*PeerB), "second");  // and "first" never reached B
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("second"); }, kPatienceMs));
    EXPECT_EQ(recorder.All().back().BindingIP, "10.2.0.1");

    PeerA->Transmit("10.1.0.1", kVep, "from A", 6);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("from A"); }, kPatienceMs));
    endpoint.SendDatagram("255.255.255.255", kVep, "third", 5);
    EXPECT_EQ(NextText(*PeerA), "third");  // and "second" never reached A
  });
}

TEST_F(UdpEndpointTwoBindings, DatagramsOnTwoBindingsAreDispatchedEachWithItsBinding) {
  OnHost(Bed, Host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    AddBindings(endpoint, {"10.1.0.1", "10.2.0.1"});
    endpoint.SetActive(true);
    EXPECT_EQ(endpoint.Bindings[0].IP, "10.1.0.1");
    EXPECT_EQ(endpoint.Bindings[1].Port, kVep);
    PeerA->Transmit("10.1.0.1", kVep, "one", 3);
    PeerB->Transmit("10.2.0.1", kVep, "two", 3);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Count() == 2; }, kPatienceMs));
    std::set<std::vector<std::string>> seen;
    for (const TReceived& got : recorder.All())
      seen.insert({got.Data, got.BindingIP, got.RemoteIP});
    EXPECT_EQ(seen, (std::set<std::vector<std::string>>{{"one", "10.1.0.1", "10.1.0.2"},
                                                         {"two", "10.2.0.1", "10.2.0.2"}}));
  });
}

TEST_F(UdpEndpointTwoBindings, BroadcastFromADeviceArrivesOnItsInterfacesBinding) {
  OnHost(Bed, Host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    AddBindings(endpoint, {"10.1.0.1", "10.2.0.1"});
    endpoint.SetActive(true);
    PeerB->SetOption(SOL_SOCKET, SO_BROADCAST, 1);
    PeerB->Transmit("255.255.255.255", kVep, "hello all", 9);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Count() == 1; }, kPatienceMs));
    EXPECT_EQ(recorder.All()[0].BindingIP, "10.2.0.1");
    EXPECT_EQ(recorder.All()[0].RemoteIP, "10.2.0.2");
  });
}

TEST_F(UdpEndpointTwoBindings, BroadcastLeavesOnceThroughEachInterfaceAndIsHeardOnEach) {
  OnHost(Bed, Host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    AddBindings(endpoint, {"10.1.0.1", "10.2.0.1"});
    endpoint.BroadcastDatagram(kVep, "discover", 8);
    std::string fromA, fromB;
    EXPECT_EQ(NextText(*PeerA, &fromA), "discover");
    EXPECT_EQ(fromA, "10.1.0.1");
    EXPECT_EQ(NextText(*PeerB, &fromB), "discover");
    EXPECT_EQ(fromB, "10.2.0.1");
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Count() == 2; }, kPatienceMs));
    std::set<std::pair<std::string, std::string>> heard;
    for (const TReceived& got : recorder.All()) heard.insert({got.BindingIP, got.RemoteIP});
    EXPECT_EQ(heard, (std::set<std::pair<std::string, std::string>>{{"10.1.0.1", "10.1.0.1"},
                                                                    {"10.2.0.1", "10.2.0.1"}}));
    // Each device got one copy only: the next thing it hears is a later unicast.
    UnicastToA("after");
    EXPECT_EQ(NextText(*PeerA), "after");
  });
}

TEST_F(UdpEndpointTwoBindings, SecondAddressOnAnInterfaceSharesItsFirstBinding) {
  Bed.Run(Host, "ip addr add 10.1.0.5/24 dev a0");
  OnHost(Bed, Host, [&](THeadlessLoop& loop) {
    TRecorder recorder;  // outlives the endpoint, whose deactivation may still dispatch
    TUdpEndpoint endpoint;
    recorder.Attach(endpoint);
    AddBindings(endpoint, {"10.1.0.1", "10.1.0.5", "10.2.0.1"});
    endpoint.SetActive(true);
    EXPECT_EQ(endpoint.Bindings[1].IP, "10.1.0.5");
    EXPECT_EQ(endpoint.Bindings[1].Port, kVep);
    PeerA->SetOption(SOL_SOCKET, SO_BROADCAST, 1);
    PeerA->Transmit("255.255.255.255", kVep, "broadcast", 9);
    EXPECT_EQ(NextText(*PeerA), "broadcast");  // the device hears its own broadcast
    PeerA->Transmit("10.1.0.5", kVep, "to second", 9);
    PeerA->Transmit("10.1.0.1", kVep, "to first", 8);
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Has("to first"); }, kPatienceMs));
    ASSERT_TRUE(loop.RunUntil([&] { return recorder.Count() >= 3; }, kPatienceMs));
    std::multiset<std::string> seen;
    for (const TReceived& got : recorder.All()) {
      seen.insert(got.Data);
      EXPECT_EQ(got.BindingIP, "10.1.0.1") << got.Data;
    }
    EXPECT_EQ(seen, (std::multiset<std::string>{"broadcast", "to second", "to first"}));

    endpoint.BroadcastDatagram(kVep, "discover", 8);
    EXPECT_EQ(NextText(*PeerA), "discover");
    UnicastToA("after");
    EXPECT_EQ(NextText(*PeerA), "after");  // one copy of the broadcast only
  });
}

}  // namespace
}  // namespace scoutor
