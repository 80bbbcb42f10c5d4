#include "tools/vepsim/Simulator.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>

namespace scoutor {

namespace {

// Datagrams taken from the socket in one go before due replies get their turn.
constexpr int kReceiveBatch = 256;
// Room for a burst of replies of many devices seen by the simulator itself.
constexpr int kSocketBufferBytes = 4 << 20;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

const char* MethodName(TVEPMethod method) {
  switch (method) {
    case vmDiscover:
      return "vmDiscover";
    case vmGetIP:
      return "vmGetIP";
    case vmSetIP:
      return "vmSetIP";
  }
  return "?";
}

std::string NodeIDText(const TVEPNodeID& id) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X%02X %02X%02X%02X%02X %02X%02X", id[0], id[1], id[2], id[3],
                id[4], id[5], id[6], id[7]);
  return text;
}

TIPv4 AddressOf(const sockaddr_in& socketAddress) {
  TIPv4 address;
  std::memcpy(address.data(), &socketAddress.sin_addr.s_addr, 4);
  return address;
}

// Every device's TFTP port and every upload takes a descriptor: as many as allowed.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

void SetBufferSize(int fd, int option, int forceOption) {
  // Root may go past the system's limit; others get what the limit allows.
  if (setsockopt(fd, SOL_SOCKET, forceOption, &kSocketBufferBytes, sizeof kSocketBufferBytes) != 0)
    setsockopt(fd, SOL_SOCKET, option, &kSocketBufferBytes, sizeof kSocketBufferBytes);
}

}  // namespace

TSimulator::TSimulator(std::vector<TSimDevice> devices, TSimOptions options)
    : Devices(std::move(devices)),
      Options(std::move(options)),
      SilentUntil(Devices.size(), TClock::time_point::min()),
      Random(Options.Seed) {
  for (std::size_t i = 0; i < Devices.size(); ++i) ByMac[Devices[i].Mac] = i;
  if (!Options.ReaddressInterface.empty())
    Readdresser = std::make_unique<TReaddresser>(Options.ReaddressInterface);
  // Addresses given to the interface are taken back also when a later step fails.
  try {
    if (!Options.HoldInterface.empty()) {
      Holder = std::make_unique<TReaddresser>(Options.HoldInterface);
      for (const TSimDevice& device : Devices)
        if (const std::string problem = Holder->Hold(device.IPAddress, device.SubnetMask);
            !problem.empty())
          throw std::runtime_error("holding the address of " + device.Name + ": " + problem);
        else
          ++Held[device.IPAddress];
    }
    if (!Options.TftpDirectory.empty()) {
      RaiseDescriptorLimit();
      const auto writeTime = std::chrono::round<std::chrono::microseconds>(
          std::chrono::duration<double, std::milli>(Options.WriteMs));
      Tftp = std::make_unique<TTftpServer>(Options.TftpDirectory, writeTime, Options.Verbose,
                                           [this](std::size_t device) { OnUploadStored(device); });
      for (std::size_t i = 0; i < Devices.size(); ++i) Tftp->Listen(i, Devices[i]);
    }
    OpenSockets();
  } catch (...) {
    ReleaseHeldAddresses();
    throw;
  }
}

void TSimulator::OpenSockets() {
  Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (Socket < 0) throw SystemError("socket");
  const int on = 1;
  if (setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      setsockopt(Socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      setsockopt(Socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)
    throw SystemError("socket options");
  SetBufferSize(Socket, SO_RCVBUF, SO_RCVBUFFORCE);
  SetBufferSize(Socket, SO_SNDBUF, SO_SNDBUFFORCE);
  if (!Options.InterfaceName.empty() &&
      setsockopt(Socket, SOL_SOCKET, SO_BINDTODEVICE, Options.InterfaceName.c_str(),
                 static_cast<socklen_t>(Options.InterfaceName.size())) != 0)
    throw SystemError("binding to interface " + Options.InterfaceName);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  any.sin_port = htons(kVEPPort);
  if (bind(Socket, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
    throw SystemError("binding UDP port " + std::to_string(kVEPPort));

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) throw SystemError("sigprocmask");
  Signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (Signals < 0) throw SystemError("signalfd");
}

TSimulator::~TSimulator() {
  Tftp.reset();
  ReleaseHeldAddresses();
  if (Signals >= 0) close(Signals);
  if (Socket >= 0) close(Socket);
}

void TSimulator::ReleaseHeldAddresses() {
  for (const auto& [address, devices] : Held) Holder->Release(address);
  Held.clear();
}

void TSimulator::Run() {
  std::fprintf(stderr, "vepsim: %zu device%s listening on UDP port %u%s%s\n", Devices.size(),
               Devices.size() == 1 ? "" : "s", kVEPPort,
               Options.InterfaceName.empty() ? "" : " on ", Options.InterfaceName.c_str());
  if (Tftp)
    std::fprintf(stderr, "vepsim: uploads to UDP port 69 of each device's address go to %s\n",
                 Options.TftpDirectory.c_str());
  // The VEP socket and the signals first, then the TFTP ports and transfers.
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{Socket, POLLIN, 0}, {Signals, POLLIN, 0}});
    if (Tftp) Tftp->AddToPoll(fds);
    if (poll(fds.data(), fds.size(), MillisecondsToNextEvent()) < 0) {
      if (errno != EINTR) throw SystemError("poll");
      continue;
    }
    if (fds[1].revents & POLLIN) break;
    if (fds[0].revents & POLLIN) ReceiveAll();
    if (Tftp) {
      Tftp->HandleReady(std::span<const pollfd>(fds).subspan(2));
      Tftp->RunDueTimers();
    }
    RunDueJobs();
  }
  std::string uploads;
  if (Tftp)
    uploads = ", " + std::to_string(Tftp->Stored()) + " uploads stored, " +
              std::to_string(Tftp->Refused()) + " refused, " + std::to_string(Tftp->Failed()) +
              " failed, " + std::to_string(Tftp->Abandoned()) + " abandoned";
  std::fprintf(stderr,
               "vepsim: stopped: %llu requests, %llu replies sent, %llu dropped, %llu malformed, "
               "%llu send errors%s\n",
               static_cast<unsigned long long>(Requests), static_cast<unsigned long long>(Replies),
               static_cast<unsigned long long>(Dropped), static_cast<unsigned long long>(Malformed),
               static_cast<unsigned long long>(SendErrors), uploads.c_str());
}

void TSimulator::ReceiveAll() {
  for (int n = 0; n < kReceiveBatch; ++n) {
    std::uint8_t data[2048];
    sockaddr_in from{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec io{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(Socket, &message, MSG_DONTWAIT);
    if (size < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        std::fprintf(stderr, "vepsim: receiving: %s\n", std::strerror(errno));
      return;
    }
    int interfaceIndex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        interfaceIndex = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_ifindex;
    // Replies (our own broadcasts come back too), other classes and short datagrams.
    const auto request = ParseRequest(data, static_cast<std::size_t>(size));
    if (!request) continue;
    HandleRequest(*request, from, interfaceIndex);
  }
}

void TSimulator::HandleRequest(const TDeviceRequest& request, const sockaddr_in& from,
                               int interfaceIndex) {
  ++Requests;
  if (Options.Verbose) {
    char name[IF_NAMESIZE] = "?";
    if_indextoname(static_cast<unsigned>(interfaceIndex), name);
    std::fprintf(stderr, "vepsim: %s request from %s:%u (%s) to %s on %s\n",
                 MethodName(request.Method), FormatIPv4(AddressOf(from)).c_str(),
                 ntohs(from.sin_port), NodeIDText(request.Source).c_str(),
                 NodeIDText(request.Destination).c_str(), name);
  }
  if (Options.Ignored.contains(request.Method)) return;
  RefreshAddresses();

  if (request.Destination == kDiscoveryID) {
    // Only discovery goes to everybody; getting or setting IP needs an addressee.
    if (request.Method != vmDiscover) return;
    const auto now = TClock::now();
    for (std::size_t i = 0; i < Devices.size(); ++i)
      if (!Restarting(i, now))
        Schedule(i, request, from, interfaceIndex, Devices[i].IPAddress, std::nullopt);
    return;
  }
  if (request.Destination[0] != 0x00 || request.Destination[1] != 0x01) return;
  TMacAddress mac;
  std::copy(request.Destination.begin() + 2, request.Destination.end(), mac.begin());
  const auto found = ByMac.find(mac);
  if (found == ByMac.end() || Restarting(found->second, TClock::now())) return;
  TSimDevice& device = Devices[found->second];
  const TIPv4 replyAddress = device.IPAddress;  // a set-IP is answered from the old address

  std::optional<TReaddress> readdress;
  if (request.Method == vmSetIP) {
    if (request.DHCP) {
      device.DHCP = true;
    } else {
      device.DHCP = false;
      device.IPAddress = request.IPAddress;
      device.SubnetMask = request.SubnetMask;
      device.DefaultGateway = request.DefaultGateway;
      if (Readdresser || Holder)
        readdress =
            TReaddress{replyAddress, request.IPAddress, request.SubnetMask, request.DefaultGateway};
    }
    std::fprintf(stderr, "vepsim: %s (%s) set to %s: %s mask %s gateway %s\n", device.Name.c_str(),
                 FormatMac(device.Mac).c_str(), device.DHCP ? "DHCP" : "static",
                 FormatIPv4(device.IPAddress).c_str(), FormatIPv4(device.SubnetMask).c_str(),
                 FormatIPv4(device.DefaultGateway).c_str());
  }
  Schedule(found->second, request, from, interfaceIndex, replyAddress, readdress);
}

void TSimulator::Schedule(std::size_t device, const TDeviceRequest& request,
                          const sockaddr_in& from, int interfaceIndex, const TIPv4& deviceAddress,
                          std::optional<TReaddress> readdress) {
  TJob job;
  job.Device = device;
  job.Method = request.Method;
  job.InterfaceIndex = interfaceIndex;
  job.DeviceAddress = deviceAddress;
  job.Readdress = readdress;
  if (Options.Unicast) {
    job.Destination = from;
  } else {
    job.Destination.sin_family = AF_INET;
    job.Destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    job.Destination.sin_port = htons(kVEPPort);
  }
  if (Chance(Options.DropRate)) {
    ++Dropped;
  } else {
    const TBytes good = EncodeReply(Devices[device], request);
    if (Options.Malformed && Chance(Options.MalformedRate)) {
      ++Malformed;
      job.Datagrams.push_back(MalformReply(good, *Options.Malformed));
      if (Options.MalformedThenGood) job.Datagrams.push_back(good);
    } else {
      job.Datagrams.push_back(good);
    }
  }
  double waitMs = Options.DelayMs;
  if (Options.JitterMs > 0)
    waitMs += std::uniform_real_distribution<double>(0, Options.JitterMs)(Random);
  const auto due = TClock::now() + std::chrono::microseconds(std::llround(waitMs * 1000));
  Queue.emplace(due, std::move(job));
}

void TSimulator::RunDueJobs() {
  const auto now = TClock::now();
  while (!Queue.empty() && Queue.begin()->first <= now) {
    const TJob job = std::move(Queue.begin()->second);
    Queue.erase(Queue.begin());
    for (const TBytes& datagram : job.Datagrams) Send(job, datagram);
    if (job.Readdress) {
      const TReaddress& r = *job.Readdress;
      if (Readdresser) {
        const std::string problem =
            Readdresser->Apply(r.OldAddress, r.NewAddress, r.SubnetMask, r.DefaultGateway);
        if (problem.empty())
          std::fprintf(stderr, "vepsim: %s now has %s instead of %s\n",
                       Readdresser->InterfaceName().c_str(), FormatIPv4(r.NewAddress).c_str(),
                       FormatIPv4(r.OldAddress).c_str());
        else
          std::fprintf(stderr, "vepsim: re-addressing %s: %s\n",
                       Readdresser->InterfaceName().c_str(), problem.c_str());
      }
      if (Holder) MoveHeldAddress(job.Device, r);
      RefreshAddresses();
    }
  }
}

void TSimulator::Send(const TJob& job, const TBytes& datagram) {
  // From the device's own address when the interface holds it, else from its primary address;
  // naming the interface also lets a broadcast leave it without a route.
  in_pktinfo info{};
  info.ipi_ifindex = job.InterfaceIndex;
  const auto addresses = Addresses.find(job.InterfaceIndex);
  if (addresses != Addresses.end()) {
    const TInterfaceAddresses& known = addresses->second;
    const std::optional<TIPv4> source =
        known.All.count(job.DeviceAddress) != 0 ? job.DeviceAddress : known.Primary;
    if (source) std::memcpy(&info.ipi_spec_dst.s_addr, source->data(), 4);
  }
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  iovec io{const_cast<std::uint8_t*>(datagram.data()), datagram.size()};
  msghdr message{};
  message.msg_name = const_cast<sockaddr_in*>(&job.Destination);
  message.msg_namelen = sizeof job.Destination;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  if (job.InterfaceIndex != 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof info);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  // The socket never blocks for reception; a full send buffer is waited out here.
  int error = 0;
  for (;;) {
    if (sendmsg(Socket, &message, 0) >= 0) break;
    error = errno;
    if (error == EINTR) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) break;
    pollfd writable{Socket, POLLOUT, 0};
    poll(&writable, 1, 100);
    error = 0;
  }
  const TSimDevice& device = Devices[job.Device];
  if (error != 0) {
    if (SendErrors++ == 0 || Options.Verbose)
      std::fprintf(stderr, "vepsim: %s could not send its %s reply to %s: %s\n",
                   device.Name.c_str(), MethodName(job.Method),
                   FormatIPv4(AddressOf(job.Destination)).c_str(), std::strerror(error));
    return;
  }
  ++Replies;
  if (Options.Verbose)
    std::fprintf(
        stderr, "vepsim: %s (%s) sent a %zu-byte %s reply to %s from %s\n", device.Name.c_str(),
        FormatMac(device.Mac).c_str(), datagram.size(), MethodName(job.Method),
        FormatIPv4(AddressOf(job.Destination)).c_str(),
        info.ipi_spec_dst.s_addr == 0 ? "the kernel's choice" : inet_ntoa(info.ipi_spec_dst));
}

void TSimulator::MoveHeldAddress(std::size_t device, const TReaddress& move) {
  const std::string& name = Devices[device].Name;
  if (const auto old = Held.find(move.OldAddress); old != Held.end() && --old->second == 0) {
    Holder->Release(move.OldAddress);
    Held.erase(old);
  }
  std::string problem;
  if (Held[move.NewAddress]++ == 0) problem = Holder->Hold(move.NewAddress, move.SubnetMask);
  if (!problem.empty()) {
    Held.erase(move.NewAddress);
    std::fprintf(stderr, "vepsim: holding the new address of %s: %s\n", name.c_str(),
                 problem.c_str());
  } else {
    std::fprintf(stderr, "vepsim: %s holds %s for %s instead of %s\n",
                 Holder->InterfaceName().c_str(), FormatIPv4(move.NewAddress).c_str(),
                 name.c_str(), FormatIPv4(move.OldAddress).c_str());
  }
  if (!Tftp) return;
  const std::string notMoved = Tftp->Move(device, move.NewAddress);
  if (!notMoved.empty())
    std::fprintf(stderr, "vepsim: %s takes no uploads now: %s\n", name.c_str(), notMoved.c_str());
}

void TSimulator::OnUploadStored(std::size_t device) {
  const TRestartTime restart = Devices[device].Restart.value_or(TRestartTime{});
  if (!restart.Never && restart.Ms == 0) return;
  SilentUntil[device] = restart.Never ? TClock::time_point::max()
                                      : TClock::now() + std::chrono::milliseconds(restart.Ms);
  if (!Options.Verbose) return;
  const TSimDevice& settings = Devices[device];
  if (restart.Never)
    std::fprintf(stderr, "vepsim: %s (%s) restarts with its new firmware: silent until the end\n",
                 settings.Name.c_str(), FormatMac(settings.Mac).c_str());
  else
    std::fprintf(stderr,
                 "vepsim: %s (%s) restarts with its new firmware: silent for %lu ms\n",
                 settings.Name.c_str(), FormatMac(settings.Mac).c_str(),
                 static_cast<unsigned long>(restart.Ms));
}

bool TSimulator::Restarting(std::size_t device, TClock::time_point now) const {
  if (now >= SilentUntil[device]) return false;
  if (Options.Verbose)
    std::fprintf(stderr, "vepsim: %s (%s) is restarting: no answer\n",
                 Devices[device].Name.c_str(), FormatMac(Devices[device].Mac).c_str());
  return true;
}

void TSimulator::RefreshAddresses() {
  Addresses.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;
  std::map<std::string, int> indexByName;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    auto [named, isNew] = indexByName.try_emplace(entry->ifa_name, 0);
    if (isNew) named->second = static_cast<int>(if_nametoindex(entry->ifa_name));
    const int index = named->second;
    if (index == 0) continue;
    sockaddr_in address;
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    TInterfaceAddresses& known = Addresses[index];
    if (!known.Primary) known.Primary = AddressOf(address);
    known.All.insert(AddressOf(address));
  }
  freeifaddrs(list);
}

int TSimulator::MillisecondsToNextEvent() const {
  std::optional<TClock::time_point> next;
  if (!Queue.empty()) next = Queue.begin()->first;
  if (Tftp)
    if (const auto deadline = Tftp->NextDeadline(); deadline && (!next || *deadline < *next))
      next = deadline;
  if (!next) return -1;
  const auto wait = *next - TClock::now();
  if (wait <= TClock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

bool TSimulator::Chance(double rate) {
  if (rate <= 0) return false;
  if (rate >= 1) return true;
  return std::uniform_real_distribution<double>(0, 1)(Random) < rate;
}

}  // namespace scoutor
