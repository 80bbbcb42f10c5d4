#include "tools/vepsim/Readdresser.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace scoutor {

namespace {

// One rtnetlink request with room for a few attributes.
struct TNetlinkRequest {
  nlmsghdr Header;
  union {
    ifaddrmsg Address;
    rtmsg Route;
  };
  alignas(NLMSG_ALIGNTO) unsigned char Attributes[64];
};

void AddAttribute(TNetlinkRequest& request, unsigned short type, const void* data,
                  unsigned short length) {
  auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<unsigned char*>(&request) +
                                              NLMSG_ALIGN(request.Header.nlmsg_len));
  attribute->rta_type = type;
  attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
  std::memcpy(RTA_DATA(attribute), data, length);
  request.Header.nlmsg_len = NLMSG_ALIGN(request.Header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Sends the request and waits for the kernel's acknowledgement; returns its error number.
int Transact(TNetlinkRequest& request) {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return errno;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  request.Header.nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
  request.Header.nlmsg_seq = 1;
  int result = 0;
  if (sendto(fd, &request, request.Header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    result = errno;
  } else {
    alignas(nlmsghdr) unsigned char buffer[4096];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got < 0) {
      result = errno;
    } else {
      const auto* reply = reinterpret_cast<const nlmsghdr*>(buffer);
      if (NLMSG_OK(reply, static_cast<unsigned>(got)) && reply->nlmsg_type == NLMSG_ERROR)
        result = -static_cast<const nlmsgerr*>(NLMSG_DATA(reply))->error;
      else
        result = EPROTO;
    }
  }
  close(fd);
  return result;
}

std::uint32_t AsWord(const TIPv4& address) {  // still in network order
  std::uint32_t word;
  std::memcpy(&word, address.data(), 4);
  return word;
}

bool IsZero(const TIPv4& address) {
  return AsWord(address) == 0;
}

// The prefix length of a contiguous mask, or -1.
int PrefixLength(const TIPv4& mask) {
  const std::uint32_t value =
      (std::uint32_t{mask[0]} << 24) | (mask[1] << 16) | (mask[2] << 8) | mask[3];
  const int ones = std::popcount(value);
  const std::uint32_t expected = ones == 0 ? 0 : ~std::uint32_t{0} << (32 - ones);
  return value == expected ? ones : -1;
}

// An address a host interface can carry: not 0.x, loopback, multicast or above.
bool IsUsableUnicast(const TIPv4& address) {
  return address[0] != 0 && address[0] != 127 && address[0] < 224;
}

std::string ErrorText(const std::string& step, int error) {
  return step + ": " + std::strerror(error);
}

}  // namespace

TReaddresser::TReaddresser(const std::string& interfaceName)
    : Name(interfaceName), Index(static_cast<int>(if_nametoindex(interfaceName.c_str()))) {
  if (Index == 0) throw std::runtime_error("no interface '" + interfaceName + "'");
  // Other devices' addresses in the same subnet are secondaries of the first one: without
  // promotion, moving the first device away would take them all.
  std::ofstream promote("/proc/sys/net/ipv4/conf/" + interfaceName + "/promote_secondaries");
  promote << "1\n";
  promote.close();
  if (!promote)
    std::fprintf(stderr,
                 "vepsim: cannot set promote_secondaries on %s: moving one address may "
                 "remove others in its subnet\n",
                 interfaceName.c_str());
}

int TReaddresser::RemoveAddress(const TIPv4& address) const {
  TNetlinkRequest request{};
  request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  request.Header.nlmsg_type = RTM_DELADDR;
  request.Address.ifa_family = AF_INET;
  request.Address.ifa_index = static_cast<unsigned>(Index);
  const std::uint32_t local = AsWord(address);
  AddAttribute(request, IFA_LOCAL, &local, 4);
  return Transact(request);
}

int TReaddresser::AddAddress(const TIPv4& address, int prefix, const TIPv4& mask) const {
  TNetlinkRequest request{};
  request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  request.Header.nlmsg_type = RTM_NEWADDR;
  request.Header.nlmsg_flags = NLM_F_CREATE | NLM_F_REPLACE;
  request.Address.ifa_family = AF_INET;
  request.Address.ifa_prefixlen = static_cast<unsigned char>(prefix);
  request.Address.ifa_scope = RT_SCOPE_UNIVERSE;
  request.Address.ifa_index = static_cast<unsigned>(Index);
  const std::uint32_t local = AsWord(address);
  AddAttribute(request, IFA_LOCAL, &local, 4);
  AddAttribute(request, IFA_ADDRESS, &local, 4);
  if (prefix < 31) {
    const std::uint32_t broadcast = local | ~AsWord(mask);
    AddAttribute(request, IFA_BROADCAST, &broadcast, 4);
  }
  return Transact(request);
}

std::string TReaddresser::Hold(const TIPv4& address, const TIPv4& mask) const {
  const int prefix = PrefixLength(mask);
  if (!IsUsableUnicast(address) || prefix < 1 || prefix > 32)
    return "refused to give " + Name + " the address " + FormatIPv4(address) + " mask " +
           FormatIPv4(mask);
  const int error = AddAddress(address, prefix, mask);
  return error == 0 ? "" : ErrorText("adding " + FormatIPv4(address), error);
}

void TReaddresser::Release(const TIPv4& address) const { RemoveAddress(address); }

std::string TReaddresser::Apply(const TIPv4& oldAddress, const TIPv4& newAddress, const TIPv4& mask,
                                const TIPv4& gateway) const {
  const int prefix = PrefixLength(mask);
  if (!IsUsableUnicast(newAddress) || prefix < 1 || prefix > 32)
    return "refused to give " + Name + " the address " + FormatIPv4(newAddress) + " mask " +
           FormatIPv4(mask);

  if (!IsZero(oldAddress)) {
    const int error = RemoveAddress(oldAddress);
    // The old address may not have been on the interface: nothing to remove then.
    if (error != 0 && error != EADDRNOTAVAIL) return ErrorText("removing the old address", error);
  }
  if (const int error = AddAddress(newAddress, prefix, mask); error != 0)
    return ErrorText("adding the new address", error);

  if (!IsZero(gateway)) {
    TNetlinkRequest request{};
    request.Header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.Header.nlmsg_type = RTM_NEWROUTE;
    request.Header.nlmsg_flags = NLM_F_CREATE | NLM_F_REPLACE;
    request.Route.rtm_family = AF_INET;
    request.Route.rtm_table = RT_TABLE_MAIN;
    request.Route.rtm_protocol = RTPROT_BOOT;
    request.Route.rtm_scope = RT_SCOPE_UNIVERSE;
    request.Route.rtm_type = RTN_UNICAST;
    const std::uint32_t via = AsWord(gateway);
    AddAttribute(request, RTA_GATEWAY, &via, 4);
    const std::uint32_t index = static_cast<std::uint32_t>(Index);
    AddAttribute(request, RTA_OIF, &index, 4);
    const int error = Transact(request);
    if (error != 0) return ErrorText("setting the default route via " + FormatIPv4(gateway), error);
  }
  return "";
}

}  // namespace scoutor
