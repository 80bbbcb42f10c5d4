#include "transport/PacketReceiver.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transport/ByteOrder.h"
#include "transport/IcmpPacket.h"
#include "transport/PacketSocket.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

// Offsets into the UDP header behind the IPv4 header.
constexpr std::size_t kUdpSourcePort = 0;
constexpr std::size_t kUdpDestinationPort = 2;
constexpr std::size_t kUdpLength = 4;
constexpr std::size_t kUdpHeader = 8;

constexpr std::uint32_t kLimitedBroadcast = 0xffffffff;
// A packet socket reads one frame at a time; the largest IPv4 packet fits.
constexpr std::size_t kLargestPacket = 65535;

bool IsDestination(const TPacketMatch& match, const TAddressBytes& address) {
  if (HostOrderIPv4(address) == kLimitedBroadcast) return true;
  return std::find(match.Destinations.begin(), match.Destinations.end(), address) !=
         match.Destinations.end();
}

}  // namespace

std::optional<TPacketDatagram> ParseUdpPacket(std::span<const std::uint8_t> packet,
                                              const TPacketMatch& match) {
  if (packet.size() < ipv4::kMinHeader) return std::nullopt;
  const std::uint8_t* ip = packet.data();
  if ((ip[ipv4::kVersionAndLength] >> 4) != 4) return std::nullopt;
  const std::size_t headerLength = IpHeaderLength(ip);
  const std::size_t totalLength = GetBE16(ip + ipv4::kTotalLength);
  // The frame may carry padding behind the packet, never less than the packet.
  if (headerLength < ipv4::kMinHeader || totalLength < headerLength + kUdpHeader ||
      totalLength > packet.size())
    return std::nullopt;
  if (InternetChecksum(ip, headerLength) != 0) return std::nullopt;  // a correct header sums to 0
  if (ip[ipv4::kProtocol] != ipv4::kProtocolUdp) return std::nullopt;
  if ((GetBE16(ip + ipv4::kFragment) & ipv4::kMoreFragmentsOrOffset) != 0) return std::nullopt;
  if (!IsDestination(match, IpDestination(ip))) return std::nullopt;
  if (match.Source && IpSource(ip) != *match.Source) return std::nullopt;

  const std::uint8_t* udp = ip + headerLength;
  if (GetBE16(udp + kUdpDestinationPort) != match.Port) return std::nullopt;
  const std::size_t udpLength = GetBE16(udp + kUdpLength);
  if (udpLength < kUdpHeader || udpLength > totalLength - headerLength) return std::nullopt;

  TPacketDatagram datagram;
  datagram.Source = IpSource(ip);
  datagram.SourcePort = GetBE16(udp + kUdpSourcePort);
  datagram.Identification = GetBE16(ip + ipv4::kIdentification);
  datagram.Payload = std::span<const std::uint8_t>(udp + kUdpHeader, udpLength - kUdpHeader);
  return datagram;
}

std::vector<sock_filter> UdpFilterProgram(const TPacketMatch& match) {
  // Offsets are from the IP header: a cooked packet socket filters the network layer.
  const std::size_t destinations = std::min(match.Destinations.size(), kMaxDestinations) + 1;
  const std::size_t checkSource = 7;
  const std::size_t firstDestination = checkSource + (match.Source ? 2 : 0) + 1;
  const std::size_t checkPort = firstDestination + destinations + 1;
  const std::size_t accept = checkPort + 3;
  const std::size_t refuse = accept + 1;

  std::vector<sock_filter> program;
  program.push_back(BpfStatement(BPF_LD | BPF_B | BPF_ABS, ipv4::kProtocol));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, ipv4::kProtocolUdp, 1, 2, refuse));
  program.push_back(BpfStatement(BPF_LD | BPF_H | BPF_ABS, ipv4::kFragment));
  program.push_back(
      BpfJump(BPF_JMP | BPF_JSET | BPF_K, ipv4::kMoreFragmentsOrOffset, 3, refuse, 4));
  program.push_back(BpfStatement(BPF_LD | BPF_B | BPF_ABS, ipv4::kVersionAndLength));
  program.push_back(BpfStatement(BPF_ALU | BPF_AND | BPF_K, 0xf0));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, 0x40, 6, checkSource, refuse));
  if (match.Source) {
    program.push_back(BpfStatement(BPF_LD | BPF_W | BPF_ABS, ipv4::kSource));
    program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, HostOrderIPv4(*match.Source),
                              checkSource + 1, checkSource + 2, refuse));
  }
  program.push_back(BpfStatement(BPF_LD | BPF_W | BPF_ABS, ipv4::kDestination));
  std::vector<std::uint32_t> wanted{kLimitedBroadcast};
  for (std::size_t i = 0; i + 1 < destinations; ++i)
    wanted.push_back(HostOrderIPv4(match.Destinations[i]));
  for (std::uint32_t address : wanted) {
    const std::size_t at = program.size();
    program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, address, at, checkPort, at + 1));
  }
  program.push_back(BpfStatement(BPF_RET | BPF_K, 0));  // no destination matched
  // X := the IP header's length; then the UDP destination port behind it.
  program.push_back(BpfStatement(BPF_LDX | BPF_B | BPF_MSH, ipv4::kVersionAndLength));
  program.push_back(BpfStatement(BPF_LD | BPF_H | BPF_IND, kUdpDestinationPort));
  program.push_back(BpfJump(BPF_JMP | BPF_JEQ | BPF_K, match.Port, checkPort + 2, accept, refuse));
  program.push_back(BpfStatement(BPF_RET | BPF_K, kLargestPacket));  // accept
  program.push_back(BpfStatement(BPF_RET | BPF_K, 0));               // refuse
  return program;
}

TPacketReceiver::TPacketReceiver(int interfaceIndex, TPacketMatch match, TEventLoop& loop,
                                 TReceived received)
    : Interface(interfaceIndex),
      Match(std::move(match)),
      Received(std::move(received)),
      Buffer(kLargestPacket),
      Alive(std::make_shared<bool>(true)) {
  Socket = OpenPacketSocket(interfaceIndex, ETH_P_IP, UdpFilterProgram(Match));
  Watch.Start(loop, Socket, TWatchKind::Read, [this] { ReadWaiting(); });
}

TPacketReceiver::~TPacketReceiver() {
  *Alive = false;
  Watch.Stop();
  close(Socket);
}

void TPacketReceiver::ReadWaiting() {
  const std::shared_ptr<bool> alive = Alive;
  ReadFrames(Socket, Buffer, [this, &alive](const TFrame& frame) {
    std::optional<TPacketDatagram> datagram = ParseUdpPacket(frame.Bytes, Match);
    if (!datagram) {
      ++MalformedCount;
      return true;
    }
    datagram->InterfaceIndex = Interface;
    Received(*datagram);
    return *alive;
  });
}

}  // namespace scoutor
