#pragma once
// Datagrams for one UDP port heard on one interface below the IP stack, through a packet
// socket. The kernel drops a datagram before any UDP socket sees it when reverse-path
// filtering finds no route back to its source (a device outside the host's subnet on a laptop
// without a default route), and a host firewall drops a reply to a broadcast, which is part of
// no connection for it; a packet socket hears both. Opening one needs CAP_NET_RAW (raised only
// while the socket opens); without it the constructor fails and nothing else changes.
//
// A classic socket filter lets in only unfragmented IPv4 UDP to the port whose destination is
// one of the interface's own addresses or broadcasts (and, when asked, whose source is one
// address); what passes is checked again here (IP header length and checksum, UDP length)
// before the callback sees it. Packets the host sends itself, and frames meant for another
// link-layer address, are skipped. Loop thread only: the socket is watched on the main loop and
// read without blocking.
#include <linux/filter.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "runtime/DescriptorWatch.h"
#include "transport/IPv4Text.h"

namespace scoutor {

// Which packets an interface's receiver takes.
struct TPacketMatch {
  std::uint16_t Port = 0;                   // UDP destination port
  std::vector<TAddressBytes> Destinations;  // the interface's addresses and broadcasts
  std::optional<TAddressBytes> Source;      // the one sender taken; none: any
};

// One UDP datagram taken from a packet; `Payload` points into the packet's bytes.
struct TPacketDatagram {
  TAddressBytes Source{};
  std::uint16_t SourcePort = 0;
  std::uint16_t Identification = 0;  // of the IP header
  std::span<const std::uint8_t> Payload;
  int InterfaceIndex = 0;
};

// The UDP datagram in `packet` (an IPv4 header first) when `match` takes it; none when the
// packet is malformed (lengths, IP header checksum), a fragment, not UDP, or not for `match`.
std::optional<TPacketDatagram> ParseUdpPacket(std::span<const std::uint8_t> packet,
                                              const TPacketMatch& match);

// The socket filter for `match`: the same test as ParseUdpPacket's, short of the checksum,
// run by the kernel so that nothing else is queued. At most kMaxDestinations destinations.
std::vector<sock_filter> UdpFilterProgram(const TPacketMatch& match);
constexpr std::size_t kMaxDestinations = 64;

class TPacketReceiver {
 public:
  using TReceived = std::function<void(const TPacketDatagram& datagram)>;

  // Opens the packet socket on the interface with index `interfaceIndex`, attaches the filter
  // and calls `received` on `loop`'s thread for every datagram taken. EIdSocketError when the
  // socket cannot be opened (EPERM without the capability) or set up.
  TPacketReceiver(int interfaceIndex, TPacketMatch match, TEventLoop& loop, TReceived received);
  ~TPacketReceiver();
  TPacketReceiver(const TPacketReceiver&) = delete;
  TPacketReceiver& operator=(const TPacketReceiver&) = delete;

  int InterfaceIndex() const { return Interface; }
  // Packets the filter let through that failed the checks here.
  std::uint64_t Malformed() const { return MalformedCount; }

 private:
  void ReadWaiting();

  int Interface;
  TPacketMatch Match;
  TReceived Received;
  int Socket = -1;
  std::vector<std::uint8_t> Buffer;
  std::uint64_t MalformedCount = 0;
  std::shared_ptr<bool> Alive;  // false once destroyed, for a callback that destroys this
  TDescriptorWatch Watch;
};

}  // namespace scoutor
