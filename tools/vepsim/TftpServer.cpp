#include "tools/vepsim/TftpServer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace scoutor {

namespace {

constexpr std::uint16_t kTftpPort = 69;
// Requests taken from a port in one go before others get their turn.
constexpr int kReceiveBatch = 64;
// Room for the largest UDP datagram.
constexpr std::size_t kDatagramRoom = 65536;

std::string PeerText(const sockaddr_in& peer) {
  return std::string(inet_ntoa(peer.sin_addr)) + ":" + std::to_string(ntohs(peer.sin_port));
}

}  // namespace

TTftpServer::TTftpServer(std::string directory, std::chrono::microseconds writeTime,
                         bool verbose, TStoredHandler onStored)
    : Directory(std::move(directory)),
      WriteTime(writeTime),
      Verbose(verbose),
      OnStored(std::move(onStored)),
      Buffer(kDatagramRoom) {}

TTftpServer::~TTftpServer() {
  Transfers.clear();
  for (const auto& [device, port] : Ports)
    if (port.Fd >= 0) close(port.Fd);
}

int TTftpServer::OpenPort(const TIPv4& address, std::string& problem) {
  const int fd = OpenDeviceSocket(address, kTftpPort);
  if (fd < 0)
    problem = "opening TFTP port " + std::to_string(kTftpPort) + " of " + FormatIPv4(address) +
              ": " + std::strerror(errno);
  return fd;
}

void TTftpServer::Listen(std::size_t device, const TSimDevice& settings) {
  TPort port;
  port.Address = settings.IPAddress;
  port.Name = settings.Name + " (" + FormatMac(settings.Mac) + ")";
  port.Mac = settings.Mac;
  port.BusyFirst = settings.BusyFirst;
  if (const TPort* owner = PortAt(port.Address)) {
    std::fprintf(stderr, "vepsim: %s has the address of %s: uploads to %s go to that one\n",
                 port.Name.c_str(), owner->Name.c_str(), FormatIPv4(port.Address).c_str());
  } else {
    std::string problem;
    port.Fd = OpenPort(port.Address, problem);
    if (port.Fd < 0) throw std::runtime_error(problem);
  }
  Ports[device] = port;
}

std::string TTftpServer::Move(std::size_t device, const TIPv4& address) {
  TPort& port = Ports.at(device);
  if (port.Fd >= 0 && port.Address == address) return "";
  if (port.Fd >= 0) close(port.Fd);
  port.Fd = -1;
  port.Address = address;
  if (const TPort* owner = PortAt(address))
    return FormatIPv4(address) + " is the address of " + owner->Name + ", which takes its uploads";
  std::string problem;
  port.Fd = OpenPort(address, problem);
  return problem;
}

const TTftpServer::TPort* TTftpServer::PortAt(const TIPv4& address) const {
  for (const auto& [device, port] : Ports)
    if (port.Fd >= 0 && port.Address == address) return &port;
  return nullptr;
}

void TTftpServer::AddToPoll(std::vector<pollfd>& fds) {
  LastPolled.clear();
  for (const auto& [device, port] : Ports)
    if (port.Fd >= 0) {
      fds.push_back({port.Fd, POLLIN, 0});
      LastPolled.push_back({true, device});
    }
  for (const auto& [number, active] : Transfers) {
    fds.push_back({active.Transfer->Socket(), POLLIN, 0});
    LastPolled.push_back({false, number});
  }
}

void TTftpServer::HandleReady(std::span<const pollfd> entries) {
  for (std::size_t i = 0; i < entries.size() && i < LastPolled.size(); ++i) {
    if ((entries[i].revents & (POLLIN | POLLERR)) == 0) continue;
    const TPolled& polled = LastPolled[i];
    if (polled.IsPort) {
      ReceiveRequests(polled.Key);
      continue;
    }
    const auto found = Transfers.find(polled.Key);
    if (found == Transfers.end()) continue;
    Report(polled.Key, found->second.Transfer->OnReadable(Buffer.data(), Buffer.size()));
    if (found->second.Transfer->Ended()) Transfers.erase(found);
  }
}

std::optional<TTftpServer::TClock::time_point> TTftpServer::NextDeadline() const {
  std::optional<TClock::time_point> next;
  for (const auto& [number, active] : Transfers)
    if (!next || active.Transfer->Deadline() < *next) next = active.Transfer->Deadline();
  return next;
}

void TTftpServer::RunDueTimers() {
  const auto now = TClock::now();
  for (auto it = Transfers.begin(); it != Transfers.end();) {
    TTftpTransfer& transfer = *it->second.Transfer;
    if (transfer.Deadline() <= now) Report(it->first, transfer.OnTimer(now));
    it = transfer.Ended() ? Transfers.erase(it) : std::next(it);
  }
}

void TTftpServer::ReceiveRequests(std::size_t device) {
  const int fd = Ports.at(device).Fd;
  for (int n = 0; n < kReceiveBatch; ++n) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t size = recvfrom(fd, Buffer.data(), Buffer.size(), MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) return;
    HandleRequest(device, TPacketView(Buffer.data(), static_cast<std::size_t>(size)), from);
  }
}

void TTftpServer::HandleRequest(std::size_t device, TPacketView packet, const sockaddr_in& from) {
  TPort& port = Ports.at(device);
  const auto request = ParseTftpRequest(packet);
  if (!request) {
    // An error packet is never answered: two programs would bounce errors for ever.
    if (TftpOpcodeOf(packet) != kTftpError)
      Refuse(port, from, kTftpIllegalOperation, "Illegal TFTP operation");
    return;
  }
  if (request->Opcode == kTftpReadRequest)
    return Refuse(port, from, kTftpIllegalOperation, "Only uploads are taken, no read requests");
  if (!IsOctetMode(*request))
    return Refuse(port, from, kTftpIllegalOperation, "Only octet mode is taken");
  if (port.BusyFirst && !port.RefusedOnce) {
    port.RefusedOnce = true;
    return Refuse(port, from, kTftpAccessViolation, "Device busy, try again");
  }

  const std::size_t number = NextTransfer++;
  const std::optional<int> blockSize = GrantedBlockSize(*request);
  TTransferSetup setup;
  setup.DeviceAddress = port.Address;
  setup.Client = from;
  setup.BlockSize = blockSize.value_or(kTftpDefaultBlockSize);
  setup.AcknowledgeBlockSize = blockSize.has_value();
  setup.WriteTime = WriteTime;
  const std::string name = MacFileName(port.Mac) + ".bin";
  setup.FinalPath = Directory + "/" + name;
  setup.TemporaryPath =
      Directory + "/." + name + "." + std::to_string(getpid()) + "." + std::to_string(number);
  std::unique_ptr<TTftpTransfer> transfer;
  try {
    transfer = std::make_unique<TTftpTransfer>(setup);
  } catch (const TTftpRefusal& refusal) {
    return Refuse(port, from, refusal.Code, refusal.what());
  }
  if (Verbose)
    std::fprintf(stderr, "vepsim: %s takes an upload from %s in blocks of %d bytes\n",
                 port.Name.c_str(), PeerText(from).c_str(), setup.BlockSize);
  Transfers.emplace(number, TActive{device, std::move(transfer)});
}

void TTftpServer::Refuse(const TPort& port, const sockaddr_in& to, std::uint16_t code,
                         const std::string& text) {
  ++RefusedCount;
  const TBytes packet = ErrorPacket(code, text);
  sendto(port.Fd, packet.data(), packet.size(), MSG_DONTWAIT,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
  std::fprintf(stderr, "vepsim: %s refused a request from %s: error %u, %s\n", port.Name.c_str(),
               PeerText(to).c_str(), code, text.c_str());
}

void TTftpServer::Report(std::size_t number, TTftpTransfer::TEvent event) {
  const TActive& active = Transfers.at(number);
  const TTftpTransfer& transfer = *active.Transfer;
  const std::string& name = Ports.at(active.Device).Name;
  const std::string client = PeerText(transfer.Client());
  switch (event) {
    case TTftpTransfer::TEvent::None:
      return;
    case TTftpTransfer::TEvent::Stored:
      ++StoredCount;
      std::fprintf(stderr, "vepsim: %s stored an upload of %llu bytes from %s as %s\n",
                   name.c_str(), static_cast<unsigned long long>(transfer.Bytes()), client.c_str(),
                   transfer.Path().c_str());
      OnStored(active.Device);
      return;
    case TTftpTransfer::TEvent::Failed:
      ++FailedCount;
      std::fprintf(stderr, "vepsim: %s: the upload from %s failed: %s\n", name.c_str(),
                   client.c_str(), transfer.Problem().c_str());
      return;
    case TTftpTransfer::TEvent::Abandoned:
      ++AbandonedCount;
      std::fprintf(stderr, "vepsim: %s: the upload from %s was abandoned after %llu bytes: %s\n",
                   name.c_str(), client.c_str(), static_cast<unsigned long long>(transfer.Bytes()),
                   transfer.Problem().c_str());
      return;
  }
}

}  // namespace scoutor
