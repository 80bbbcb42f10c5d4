#include "transport/SocketBinding.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

sockaddr_in MakeAddress(const std::string& dotted, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (!dotted.empty()) {
    const TAddressBytes bytes = TSocketStack::TextToAddress(dotted);
    std::memcpy(&address.sin_addr.s_addr, bytes.data(), 4);
  }
  return address;
}

std::string TextOf(const sockaddr_in& address) {
  TAddressBytes bytes;
  std::memcpy(bytes.data(), &address.sin_addr.s_addr, 4);
  return TSocketStack::AddressToText(bytes);
}

}  // namespace

TSocketBinding::~TSocketBinding() { Close(); }

void TSocketBinding::Open(int type, int protocol) {
  Close(false);
  const int handle = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (handle < 0) throw EIdInvalidSocket();
  Socket = handle;
}

void TSocketBinding::BindAddress(const std::string& address) {
  const sockaddr_in local = MakeAddress(address, Port);
  const int result = bind(Socket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  if (TSocketStack::CheckResult(result, {EADDRINUSE})) throw EIdCouldNotBindSocket();
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  TSocketStack::CheckResult(getsockname(Socket, reinterpret_cast<sockaddr*>(&bound), &length));
  Port = ntohs(bound.sin_port);
}

void TSocketBinding::BindLocal() {
  BindAddress(IP);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  TSocketStack::CheckResult(getsockname(Socket, reinterpret_cast<sockaddr*>(&bound), &length));
  IP = TextOf(bound);
}

void TSocketBinding::TieToDevice(const std::string& device) {
  TSocketStack::CheckResult(setsockopt(Socket, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                                       static_cast<socklen_t>(device.size())));
}

void TSocketBinding::Close(bool resetLocal) {
  if (Socket == kInvalidSocket) return;
  const int handle = Socket;
  Socket = kInvalidSocket;
  shutdown(handle, SHUT_WR);
  close(handle);
  if (resetLocal) {
    IP.clear();
    Port = 0;
  }
  RemoteIP.clear();
  RemotePort = 0;
}

void TSocketBinding::CheckSent(long result, std::size_t length) {
  if (result == -1) {
    if (TSocketStack::CheckResult(-1, {EMSGSIZE})) throw EIdPackageSizeTooBig();
  }
  if (static_cast<std::size_t>(result) != length) throw EIdNotAllBytesSent();
}

void TSocketBinding::Transmit(const std::string& address, int port, const void* buffer,
                              std::size_t length) {
  const sockaddr_in peer = MakeAddress(address, port);
  CheckSent(sendto(Socket, buffer, length, 0, reinterpret_cast<const sockaddr*>(&peer),
                   sizeof peer),
            length);
}

void TSocketBinding::TransmitOnInterface(int interfaceIndex, const std::string& source,
                                         const std::string& address, int port,
                                         const void* buffer, std::size_t length) {
  sockaddr_in peer = MakeAddress(address, port);
  in_pktinfo info{};
  info.ipi_ifindex = interfaceIndex;
  if (!source.empty()) info.ipi_spec_dst = MakeAddress(source, 0).sin_addr;
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  iovec part{const_cast<void*>(buffer), length};
  msghdr message{};
  message.msg_name = &peer;
  message.msg_namelen = sizeof peer;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = IPPROTO_IP;
  header->cmsg_type = IP_PKTINFO;
  header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  std::memcpy(CMSG_DATA(header), &info, sizeof info);
  CheckSent(sendmsg(Socket, &message, 0), length);
}

int TSocketBinding::ReceiveFrom(void* buffer, std::size_t capacity, std::string& fromIP,
                                int& fromPort) {
  sockaddr_in source{};
  socklen_t length = sizeof source;
  const auto result =
      recvfrom(Socket, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&source), &length);
  if (result >= 0) {
    fromIP = TextOf(source);
    fromPort = ntohs(source.sin_port);
  }
  return static_cast<int>(result);
}

int TSocketBinding::Receive(void* buffer, std::size_t capacity) {
  return static_cast<int>(recv(Socket, buffer, capacity, 0));
}

bool TSocketBinding::WaitReadable(int timeoutMs) {
  if (Socket == kInvalidSocket) throw EIdConnClosedGracefully();
  std::vector<TSocketHandle> read{Socket};
  return TSocketStack::WaitForSockets(&read, nullptr, nullptr, timeoutMs) == 1;
}

void TSocketBinding::SetOption(int level, int option, int value) {
  TSocketStack::CheckResult(setsockopt(Socket, level, option, &value, sizeof value));
}

void TSocketBinding::SetRemote(const std::string& ip, int port) {
  RemoteIP = ip;
  RemotePort = port;
}

}  // namespace scoutor
