#include "hostnet/AddressChanges.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace scoutor {

std::unique_ptr<TAddressChanges> TAddressChanges::Open() {
  const int socketFd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (socketFd < 0) return nullptr;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_IPV4_IFADDR;
  if (bind(socketFd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    close(socketFd);
    return nullptr;
  }
  return std::unique_ptr<TAddressChanges>(new TAddressChanges(socketFd));
}

TAddressChanges::~TAddressChanges() { close(Socket); }

bool TAddressChanges::TakeChanges() {
  bool changed = false;
  alignas(nlmsghdr) std::uint8_t buffer[16384];
  for (;;) {
    const ssize_t received = recv(Socket, buffer, sizeof buffer, MSG_DONTWAIT);
    if (received < 0) {
      // The kernel drops notifications when the socket's queue overflows: then anything may have
      // changed.
      if (errno == ENOBUFS) {
        changed = true;
        continue;
      }
      if (errno == EINTR) continue;
      return changed;  // nothing more waiting (or a lasting error: nothing to follow)
    }
    if (received == 0) return changed;
    auto remaining = static_cast<unsigned int>(received);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
         message = NLMSG_NEXT(message, remaining)) {
      if (message->nlmsg_type != RTM_NEWADDR && message->nlmsg_type != RTM_DELADDR) continue;
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) continue;
      const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
      if (address->ifa_family == AF_INET) changed = true;
    }
  }
}

}  // namespace scoutor
