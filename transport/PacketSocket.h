#pragma once
// What the packet sockets below the IP stack share: the two shapes of a classic socket
// filter's instructions, and the
// opening of a cooked packet socket (SOCK_DGRAM: the link-layer header is the kernel's) on one
// interface with its filter in place before the first packet can arrive. Any thread.
#include <linux/filter.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "transport/IPv4Header.h"

namespace scoutor {

// A filter instruction, and a conditional jump from instruction `from` to instruction `onTrue`
// or `onFalse` (absolute positions; the jump itself is relative).
sock_filter BpfStatement(std::uint16_t code, std::uint32_t k);
sock_filter BpfJump(std::uint16_t code, std::uint32_t k, std::size_t from, std::size_t onTrue,
                    std::size_t onFalse);

// Opens a non-blocking cooked packet socket with `program` attached and binds it to the
// interface and the link-layer protocol (ETH_P_*); CAP_NET_RAW is raised only for the open.
// EIdSocketError when it cannot be opened (EPERM without the capability) or set up.
int OpenPacketSocket(int interfaceIndex, std::uint16_t protocol,
                     const std::vector<sock_filter>& program);
// Replaces the socket's filter. EIdSocketError when the kernel refuses it.
void AttachFilter(int socket, const std::vector<sock_filter>& program);

// One frame read from a cooked packet socket: its bytes from the network header on, and its
// link-layer protocol (ETH_P_*).
struct TFrame {
  std::span<const std::uint8_t> Bytes;
  std::uint16_t Protocol = 0;
};

// Reads the frames waiting on `socket` into `buffer` without blocking, at most 64 so that a
// flood cannot hold the loop, and hands `take` those meant for this host: the host's own
// frames, and frames a switch floods toward another link-layer address (which the IP stack
// drops too), are skipped. `take` returns false when its reader is gone: the reading stops.
void ReadFrames(int socket, std::vector<std::uint8_t>& buffer,
                const std::function<bool(const TFrame& frame)>& take);

}  // namespace scoutor
