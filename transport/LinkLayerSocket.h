#pragma once
// ARP and ICMP below the IP stack on one Ethernet-like interface, through a packet socket: an
// ARP request for an address goes out as a broadcast frame and an IPv4 packet goes in a frame
// to a link-layer address that the caller resolved itself, so the kernel's neighbour table is
// neither asked nor filled. A classic socket filter lets in only ARP replies and ICMP addressed
// to one of the interface's own addresses, in frames to this host or to everyone: the host's
// own outgoing frames and frames meant for another link-layer address are skipped. Opening
// needs CAP_NET_RAW (raised only while the socket opens). Loop thread only: the socket is
// watched on the loop and read and written without blocking.
#include <linux/filter.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "runtime/DescriptorWatch.h"
#include "transport/IPv4Text.h"

namespace scoutor {

using TMacAddress = std::array<std::uint8_t, 6>;

// The link-layer address of the interface with index `interfaceIndex` when it is up, speaks
// ARP and is Ethernet-like (Ethernet, a bridge, a VLAN, Wi-Fi in managed mode); none otherwise
// (loopback, point-to-point links, tunnels, an interface without ARP).
std::optional<TMacAddress> EthernetAddressOf(int interfaceIndex);

// What an ARP reply says: `Address` is at `Mac`.
struct TArpReply {
  TAddressBytes Address{};
  TMacAddress Mac{};
};

// The ARP reply in `packet` (the ARP header first); none for anything else.
std::optional<TArpReply> ParseArpReply(std::span<const std::uint8_t> packet);

// The socket filter: ARP replies, and unfragmented ICMP to one of `ownAddresses` (at most
// kMaxOwnAddresses of them).
std::vector<sock_filter> ArpAndIcmpFilterProgram(const std::vector<TAddressBytes>& ownAddresses);
constexpr std::size_t kMaxOwnAddresses = 64;

class TLinkLayerSocket {
 public:
  using TArpReceived = std::function<void(const TArpReply& reply)>;
  // An IPv4 packet carrying ICMP, IP header first.
  using TIcmpReceived = std::function<void(std::span<const std::uint8_t> packet)>;

  // Opens the socket on the interface, whose own link-layer address is `mac`. EIdSocketError
  // when it cannot be opened (EPERM without the capability) or set up.
  TLinkLayerSocket(int interfaceIndex, const TMacAddress& mac,
                   const std::vector<TAddressBytes>& ownAddresses, TEventLoop& loop,
                   TArpReceived arp, TIcmpReceived icmp);
  ~TLinkLayerSocket();
  TLinkLayerSocket(const TLinkLayerSocket&) = delete;
  TLinkLayerSocket& operator=(const TLinkLayerSocket&) = delete;

  // Replaces the addresses whose ICMP the socket takes.
  void SetOwnAddresses(const std::vector<TAddressBytes>& ownAddresses);

  // Each send returns 0 when the frame went out, else the errno of the failure (EAGAIN or
  // ENOBUFS while the interface's queue is full: the caller tries again later).
  int SendArpRequest(const TAddressBytes& from, const TAddressBytes& target);
  // `packet` is a complete IPv4 packet; it goes in a frame to `to`.
  int SendIPv4(const TMacAddress& to, std::span<const std::uint8_t> packet);

 private:
  void ReadWaiting();
  int SendFrame(std::uint16_t protocol, const TMacAddress& to,
                std::span<const std::uint8_t> payload);

  int Interface;
  TMacAddress OwnMac;
  TArpReceived Arp;
  TIcmpReceived Icmp;
  int Socket = -1;
  std::vector<std::uint8_t> Buffer;
  std::shared_ptr<bool> Alive;  // false once destroyed, for a callback that destroys this
  TDescriptorWatch Watch;
};

// An IPv4 packet from `source` to `target` carrying `icmp` (time to live `ttl`, identification
// `identification`, "don't fragment"), header checksum filled in.
std::vector<std::uint8_t> IcmpPacketTo(const TAddressBytes& source, const TAddressBytes& target,
                                       std::uint16_t identification, std::uint8_t ttl,
                                       std::span<const std::uint8_t> icmp);

}  // namespace scoutor
