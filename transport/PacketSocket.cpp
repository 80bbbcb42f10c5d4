#include "transport/PacketSocket.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "transport/RawSocketPrivilege.h"
#include "transport/SocketErrors.h"

namespace scoutor {

sock_filter BpfStatement(std::uint16_t code, std::uint32_t k) {
  return BPF_STMT(code, k);
}

sock_filter BpfJump(std::uint16_t code, std::uint32_t k, std::size_t from, std::size_t onTrue,
                    std::size_t onFalse) {
  return BPF_JUMP(code, k, static_cast<std::uint8_t>(onTrue - from - 1),
                  static_cast<std::uint8_t>(onFalse - from - 1));
}

void AttachFilter(int socket, const std::vector<sock_filter>& program) {
  const sock_fprog filter{static_cast<unsigned short>(program.size()),
                          const_cast<sock_filter*>(program.data())};
  if (setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0)
    throw EIdSocketError(errno);
}

void ReadFrames(int socket, std::vector<std::uint8_t>& buffer,
                const std::function<bool(const TFrame& frame)>& take) {
  constexpr int kFramesPerWake = 64;
  for (int i = 0; i < kFramesPerWake; ++i) {
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t received = recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Nothing more waiting, or an error the next readiness reports again.
    if (received < 0) return;
    if (from.sll_pkttype == PACKET_OUTGOING || from.sll_pkttype == PACKET_OTHERHOST) continue;
    const TFrame frame{
        std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(received)),
        ntohs(from.sll_protocol)};
    if (!take(frame)) return;
  }
}

int OpenPacketSocket(int interfaceIndex, std::uint16_t protocol,
                     const std::vector<sock_filter>& program) {
  int fd = -1;
  {
    const TRawSocketPrivilege privilege;
    // Protocol 0 receives nothing until bound, so no packet slips in before the filter.
    fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  }
  if (fd < 0) throw EIdSocketError(errno);
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(protocol);
  address.sll_ifindex = interfaceIndex;
  try {
    AttachFilter(fd, program);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      throw EIdSocketError(errno);
  } catch (...) {
    close(fd);
    throw;
  }
  return fd;
}

}  // namespace scoutor
