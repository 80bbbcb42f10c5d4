#pragma once
// Where the ICMP socket comes from on Linux. A raw socket needs root or CAP_NET_RAW; without
// them the unprivileged ICMP datagram socket serves, where net.ipv4.ping_group_range admits
// one of the process's groups. The datagram socket differs in three ways, all hidden here:
// the kernel puts the socket's local port into the identifier, it delivers the ICMP message
// without the IP header (this layer puts one in front, with the source and time-to-live), and
// the ICMP errors answering a request come through the socket's error queue (this layer turns
// them back into the error message, quoting the request). Runs on the socket owner's thread.
#include <cstddef>
#include <cstdint>

#include "transport/SocketBinding.h"

namespace scoutor {

enum class TIcmpSocketKind { Raw, Datagram };

class TIcmpSocket {
 public:
  // Opens a raw socket for `protocol` on `binding`; for ICMP falls back to the datagram socket
  // when raw sockets are refused. EIdInvalidSocket when neither can be opened.
  static TIcmpSocketKind Open(TSocketBinding& binding, int protocol);

  // One received packet, IP header in front, into `buffer`. Returns its length, 0 when what
  // was waiting turned out to be nothing to read, -1 on failure (errno set).
  static int Receive(TSocketBinding& binding, TIcmpSocketKind kind, std::uint8_t* buffer,
                     std::size_t capacity);

  // The identifier an echo request carried on the wire, read little-endian from bytes 4-5:
  // `own` on a raw socket; the local port (big-endian on the wire) on a datagram socket, which
  // is known once the first request has been sent.
  static std::uint16_t SentIdentifier(const TSocketBinding& binding, TIcmpSocketKind kind,
                                      std::uint16_t own);
};

}  // namespace scoutor
