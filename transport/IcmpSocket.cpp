#include "transport/IcmpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "transport/ByteOrder.h"
#include "transport/IcmpRebuild.h"
#include "transport/RawSocketPrivilege.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

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

TAddressBytes AddressOf(const sockaddr_in& address) {
  TAddressBytes bytes;
  std::memcpy(bytes.data(), &address.sin_addr.s_addr, bytes.size());
  return bytes;
}

// An ICMP error from the error queue, rebuilt as the packet a raw socket would have seen.
int ReceiveQueuedError(int fd, std::uint8_t* buffer, std::size_t capacity) {
  if (capacity <= kQueuedErrorFront) return 0;
  alignas(cmsghdr) char control[512];
  sockaddr_in destination{};
  iovec data{buffer + kQueuedErrorFront, capacity - kQueuedErrorFront};
  msghdr message{};
  message.msg_name = &destination;
  message.msg_namelen = sizeof destination;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t quoted = recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
  if (quoted < 0) return -1;
  return static_cast<int>(FrameQueuedError(buffer, static_cast<std::size_t>(quoted),
                                           ReadIcmpControl(message), AddressOf(destination)));
}

int ReceiveDatagram(int fd, std::uint8_t* buffer, std::size_t capacity) {
  const int queued = ReceiveQueuedError(fd, buffer, capacity);
  if (queued >= 0) return queued;
  if (!NothingToRead(errno)) return -1;

  if (capacity <= kRebuiltIpHeader) return 0;
  alignas(cmsghdr) char control[256];
  sockaddr_in source{};
  iovec data{buffer + kRebuiltIpHeader, capacity - kRebuiltIpHeader};
  msghdr message{};
  message.msg_name = &source;
  message.msg_namelen = sizeof source;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
  if (received < 0) return NothingToRead(errno) || PendingIcmpError(errno) ? 0 : -1;
  return static_cast<int>(FrameEchoMessage(buffer, static_cast<std::size_t>(received),
                                           ReadIcmpControl(message).Ttl, AddressOf(source)));
}

}  // namespace

TIcmpSocketKind TIcmpSocket::Open(TSocketBinding& binding, int protocol) {
  try {
    const TRawSocketPrivilege privilege;
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
