#include "transport/IcmpSocket.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "transport/ByteOrder.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

constexpr std::size_t kIpHeader = 20;
constexpr std::size_t kIcmpHeader = 8;
constexpr std::uint8_t kProtocolIcmp = 1;

void PutAddress(std::uint8_t* at, const in_addr& address) {
  std::memcpy(at, &address.s_addr, 4);  // s_addr is in network order: a.b.c.d
}

// A plain IPv4 header of 20 bytes for `total` bytes of packet.
void PutIpHeader(std::uint8_t* at, std::size_t total, std::uint8_t ttl, const in_addr* source,
                 const in_addr* destination) {
  std::memset(at, 0, kIpHeader);
  at[0] = 0x45;
  PutBE16(at + 2, static_cast<std::uint16_t>(total));
  at[8] = ttl;
  at[9] = kProtocolIcmp;
  if (source != nullptr) PutAddress(at + 12, *source);
  if (destination != nullptr) PutAddress(at + 16, *destination);
}

struct TControl {
  int Ttl = 0;
  const sock_extended_err* Error = nullptr;
};

TControl ReadControl(msghdr& message) {
  TControl control;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP) continue;
    if (c->cmsg_type == IP_TTL) {
      std::memcpy(&control.Ttl, CMSG_DATA(c), sizeof control.Ttl);
    } else if (c->cmsg_type == IP_RECVERR) {
      control.Error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    }
  }
  return control;
}

bool NothingToRead(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// The error a queued ICMP error leaves on the socket; the message itself waits on the error
// queue and is read on the next round.
bool PendingIcmpError(int error) {
  switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case ECONNREFUSED:
    case EMSGSIZE:
    case EOPNOTSUPP:
    case EHOSTDOWN:
    case ENONET:
    case EACCES:
    case EPROTO:
      return true;
    default:
      return false;
  }
}

// An ICMP error from the error queue, rebuilt as the packet a raw socket would have seen:
// IP header from the sender, the error's type and code, then the quoted IP header to the
// original destination and the quoted start of the request.
int ReceiveQueuedError(int fd, std::uint8_t* buffer, std::size_t capacity) {
  constexpr std::size_t kFront = kIpHeader + kIcmpHeader + kIpHeader;
  if (capacity <= kFront) return 0;
  alignas(cmsghdr) char control[512];
  sockaddr_in destination{};
  iovec data{buffer + kFront, capacity - kFront};
  msghdr message{};
  message.msg_name = &destination;
  message.msg_namelen = sizeof destination;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t quoted = recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (quoted < 0) return -1;
  const TControl found = ReadControl(message);
  if (found.Error == nullptr || found.Error->ee_origin != SO_EE_ORIGIN_ICMP) return 0;
  sockaddr_in offender{};
  std::memcpy(&offender, SO_EE_OFFENDER(found.Error), sizeof offender);
  const std::size_t total = kFront + static_cast<std::size_t>(quoted);
  PutIpHeader(buffer, total, static_cast<std::uint8_t>(found.Ttl), &offender.sin_addr, nullptr);
  std::uint8_t* icmp = buffer + kIpHeader;
  std::memset(icmp, 0, kIcmpHeader);
  icmp[0] = found.Error->ee_type;
  icmp[1] = found.Error->ee_code;
  PutIpHeader(icmp + kIcmpHeader, kIpHeader + static_cast<std::size_t>(quoted), 0, nullptr,
              &destination.sin_addr);
  return static_cast<int>(total);
}

int ReceiveDatagram(int fd, std::uint8_t* buffer, std::size_t capacity) {
  const int queued = ReceiveQueuedError(fd, buffer, capacity);
  if (queued >= 0) return queued;
  if (!NothingToRead(errno)) return -1;

  if (capacity <= kIpHeader) return 0;
  alignas(cmsghdr) char control[256];
  sockaddr_in source{};
  iovec data{buffer + kIpHeader, capacity - kIpHeader};
  msghdr message{};
  message.msg_name = &source;
  message.msg_namelen = sizeof source;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
  if (received < 0) return NothingToRead(errno) || PendingIcmpError(errno) ? 0 : -1;
  const TControl found = ReadControl(message);
  const std::size_t total = kIpHeader + static_cast<std::size_t>(received);
  PutIpHeader(buffer, total, static_cast<std::uint8_t>(found.Ttl), &source.sin_addr, nullptr);
  return static_cast<int>(total);
}

}  // namespace

TIcmpSocketKind TIcmpSocket::Open(TSocketBinding& binding, int protocol) {
  try {
    binding.Open(SOCK_RAW, protocol);
    return TIcmpSocketKind::Raw;
  } catch (const EIdInvalidSocket&) {
    if (protocol != IPPROTO_ICMP) throw;
  }
  binding.Open(SOCK_DGRAM, IPPROTO_ICMP);
  binding.SetOption(IPPROTO_IP, IP_RECVTTL, 1);
  binding.SetOption(IPPROTO_IP, IP_RECVERR, 1);
  return TIcmpSocketKind::Datagram;
}

int TIcmpSocket::Receive(TSocketBinding& binding, TIcmpSocketKind kind, std::uint8_t* buffer,
                         std::size_t capacity) {
  if (kind == TIcmpSocketKind::Raw) return binding.Receive(buffer, capacity);
  return ReceiveDatagram(binding.Handle(), buffer, capacity);
}

std::uint16_t TIcmpSocket::SentIdentifier(const TSocketBinding& binding, TIcmpSocketKind kind,
                                          std::uint16_t own) {
  if (kind == TIcmpSocketKind::Raw) return own;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(binding.Handle(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
    throw EIdSocketError(errno);
  std::uint8_t wire[2];
  std::memcpy(wire, &local.sin_port, 2);  // the port in network order, as in the request
  return GetLE16(wire);
}

}  // namespace scoutor
