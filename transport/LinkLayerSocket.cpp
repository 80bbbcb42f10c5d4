#include "transport/LinkLayerSocket.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transport/ByteOrder.h"
#include "transport/IcmpPacket.h"
#include "transport/PacketSocket.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

// An ARP message for IPv4 over Ethernet, as it follows the link-layer header.
namespace arp {
constexpr std::size_t kHardwareType = 0;
constexpr std::size_t kProtocolType = 2;
constexpr std::size_t kHardwareLength = 4;
constexpr std::size_t kProtocolLength = 5;
constexpr std::size_t kOperation = 6;
constexpr std::size_t kSenderMac = 8;
constexpr std::size_t kSenderAddress = 14;
constexpr std::size_t kTargetMac = 18;
constexpr std::size_t kTargetAddress = 24;
constexpr std::size_t kLength = 28;
constexpr std::uint16_t kEthernet = 1;
constexpr std::uint16_t kRequest = 1;
constexpr std::uint16_t kReply = 2;
}  // namespace arp

constexpr std::uint16_t kDontFragment = 0x4000;

// Room for any frame the filter lets in; longer ICMP is cut, which no answer needs.
constexpr std::size_t kLargestPacket = 2048;
constexpr TMacAddress kBroadcastMac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

}  // namespace

std::optional<TMacAddress> EthernetAddressOf(int interfaceIndex) {
  ifreq request{};
  if (if_indextoname(static_cast<unsigned>(interfaceIndex), request.ifr_name) == nullptr)
    return std::nullopt;
  const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return std::nullopt;
  std::optional<TMacAddress> mac;
  ifreq flags = request;
  if (ioctl(probe, SIOCGIFFLAGS, &flags) == 0 && (flags.ifr_flags & IFF_UP) != 0 &&
      (flags.ifr_flags & (IFF_NOARP | IFF_LOOPBACK | IFF_POINTOPOINT)) == 0 &&
      ioctl(probe, SIOCGIFHWADDR, &request) == 0 && request.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
    mac.emplace();
    std::memcpy(mac->data(), request.ifr_hwaddr.sa_data, mac->size());
  }
  close(probe);
  return mac;
}

std::optional<TArpReply> ParseArpReply(std::span<const std::uint8_t> packet) {
  if (packet.size() < arp::kLength) return std::nullopt;
  const std::uint8_t* at = packet.data();
  if (GetBE16(at + arp::kHardwareType) != arp::kEthernet ||
      GetBE16(at + arp::kProtocolType) != ETH_P_IP || at[arp::kHardwareLength] != 6 ||
      at[arp::kProtocolLength] != 4 || GetBE16(at + arp::kOperation) != arp::kReply)
    return std::nullopt;
  TArpReply reply;
  std::copy_n(at + arp::kSenderAddress, 4, reply.Address.begin());
  std::copy_n(at + arp::kSenderMac, 6, reply.Mac.begin());
  return reply;
}

std::vector<sock_filter> ArpAndIcmpFilterProgram(const std::vector<TAddressBytes>& ownAddresses) {
  // A cooked packet socket filters from the network header; the frame's type and direction
  // come from the kernel's extensions.
  const std::size_t addresses = std::min(ownAddresses.size(), kMaxOwnAddresses);
  const std::size_t isArp = 5;
  const std::size_t isIp = 7;
  const std::size_t firstAddress = isIp + 8;
  const std::size_t refuse = firstAddress + addresses;
  const std::size_t accept = refuse + 1;

  std::vector<sock_filter> program;
  program.push_back(BpfStatement(BPF_LD | BPF_W | BPF_ABS, SKF_AD_OFF + SKF_AD_PKTTYPE));
  // Frames to this host or to everyone: not our own, and not those a switch floods that are
  // meant for another host (which the IP stack drops too).
  program.push_back(BpfJump(BPF_JMP | BPF_JGT | BPF_K, PACKET_BROADCAST, 1, refuse, 2));
  program.push_back(BpfStatement(BPF_LD | BPF_W | BPF_ABS, SKF_AD_OFF + SKF_AD_PROTOCOL));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_ARP, 3, isArp, 4));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 4, isIp, refuse));
  // ARP: replies only.
  program.push_back(BpfStatement(BPF_LD | BPF_H | BPF_ABS, arp::kOperation));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, arp::kReply, isArp + 1, accept, refuse));
  // IPv4: version 4, ICMP, not a fragment, to one of the interface's addresses.
  program.push_back(BpfStatement(BPF_LD | BPF_B | BPF_ABS, ipv4::kVersionAndLength));
  program.push_back(BpfStatement(BPF_ALU | BPF_AND | BPF_K, 0xf0));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, 0x40, isIp + 2, isIp + 3, refuse));
  program.push_back(BpfStatement(BPF_LD | BPF_B | BPF_ABS, ipv4::kProtocol));
  program.push_back(
      BpfJump(BPF_JMP | BPF_JEQ | BPF_K, ipv4::kProtocolIcmp, isIp + 4, isIp + 5, refuse));
  program.push_back(BpfStatement(BPF_LD | BPF_H | BPF_ABS, ipv4::kFragment));
  program.push_back(BpfJump(BPF_JMP | BPF_JSET | BPF_K, ipv4::kMoreFragmentsOrOffset, isIp + 6,
                            refuse, isIp + 7));
  program.push_back(BpfStatement(BPF_LD | BPF_W | BPF_ABS, ipv4::kDestination));
  for (std::size_t i = 0; i < addresses; ++i) {
    const std::size_t at = program.size();
    program.push_back(
        BpfJump(BPF_JMP | BPF_JEQ | BPF_K, HostOrderIPv4(ownAddresses[i]), at, accept, at + 1));
  }
  program.push_back(BpfStatement(BPF_RET | BPF_K, 0));               // refuse
  program.push_back(BpfStatement(BPF_RET | BPF_K, kLargestPacket));  // accept
  return program;
}

TLinkLayerSocket::TLinkLayerSocket(int interfaceIndex, const TMacAddress& mac,
                                   const std::vector<TAddressBytes>& ownAddresses, TEventLoop& loop,
                                   TArpReceived arp, TIcmpReceived icmp)
    : Interface(interfaceIndex),
      OwnMac(mac),
      Arp(std::move(arp)),
      Icmp(std::move(icmp)),
      Buffer(kLargestPacket),
      Alive(std::make_shared<bool>(true)) {
  // Every protocol: ARP replies and IPv4 alike, which the filter sorts out.
  Socket = OpenPacketSocket(interfaceIndex, ETH_P_ALL, ArpAndIcmpFilterProgram(ownAddresses));
  Watch.Start(loop, Socket, TWatchKind::Read, [this] { ReadWaiting(); });
}

void TLinkLayerSocket::SetOwnAddresses(const std::vector<TAddressBytes>& ownAddresses) {
  AttachFilter(Socket, ArpAndIcmpFilterProgram(ownAddresses));
}

TLinkLayerSocket::~TLinkLayerSocket() {
  *Alive = false;
  Watch.Stop();
  close(Socket);
}

int TLinkLayerSocket::SendArpRequest(const TAddressBytes& from, const TAddressBytes& target) {
  std::uint8_t request[arp::kLength] = {};
  PutBE16(request + arp::kHardwareType, arp::kEthernet);
  PutBE16(request + arp::kProtocolType, ETH_P_IP);
  request[arp::kHardwareLength] = 6;
  request[arp::kProtocolLength] = 4;
  PutBE16(request + arp::kOperation, arp::kRequest);
  std::copy(OwnMac.begin(), OwnMac.end(), request + arp::kSenderMac);
  std::copy(from.begin(), from.end(), request + arp::kSenderAddress);
  std::copy(target.begin(), target.end(), request + arp::kTargetAddress);
  return SendFrame(ETH_P_ARP, kBroadcastMac, request);
}

int TLinkLayerSocket::SendIPv4(const TMacAddress& to, std::span<const std::uint8_t> packet) {
  return SendFrame(ETH_P_IP, to, packet);
}

int TLinkLayerSocket::SendFrame(std::uint16_t protocol, const TMacAddress& to,
                                std::span<const std::uint8_t> payload) {
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(protocol);
  address.sll_ifindex = Interface;
  address.sll_halen = static_cast<unsigned char>(to.size());
  std::copy(to.begin(), to.end(), address.sll_addr);
  const ssize_t sent = sendto(Socket, payload.data(), payload.size(), 0,
                              reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (sent == static_cast<ssize_t>(payload.size())) return 0;
  return sent < 0 ? errno : EMSGSIZE;
}

void TLinkLayerSocket::ReadWaiting() {
  const std::shared_ptr<bool> alive = Alive;
  ReadFrames(Socket, Buffer, [this, &alive](const TFrame& frame) {
    const std::span<const std::uint8_t> packet = frame.Bytes;
    if (frame.Protocol == ETH_P_ARP) {
      if (const std::optional<TArpReply> reply = ParseArpReply(packet)) Arp(*reply);
    } else if (packet.size() >= ipv4::kMinHeader &&
               IpHeaderLength(packet.data()) >= ipv4::kMinHeader &&
               IpHeaderLength(packet.data()) <= packet.size()) {
      Icmp(packet);
    }
    return *alive;
  });
}

std::vector<std::uint8_t> IcmpPacketTo(const TAddressBytes& source, const TAddressBytes& target,
                                       std::uint16_t identification, std::uint8_t ttl,
                                       std::span<const std::uint8_t> icmp) {
  std::vector<std::uint8_t> packet(ipv4::kMinHeader + icmp.size());
  std::uint8_t* ip = packet.data();
  ip[ipv4::kVersionAndLength] = 0x45;
  PutBE16(ip + ipv4::kTotalLength, static_cast<std::uint16_t>(packet.size()));
  PutBE16(ip + ipv4::kIdentification, identification);
  PutBE16(ip + ipv4::kFragment, kDontFragment);
  ip[ipv4::kTtl] = ttl;
  ip[ipv4::kProtocol] = ipv4::kProtocolIcmp;
  std::copy(source.begin(), source.end(), ip + ipv4::kSource);
  std::copy(target.begin(), target.end(), ip + ipv4::kDestination);
  PutBE16(ip + ipv4::kChecksum, InternetChecksum(ip, ipv4::kMinHeader));
  std::copy(icmp.begin(), icmp.end(), ip + ipv4::kMinHeader);
  return packet;
}

}  // namespace scoutor
