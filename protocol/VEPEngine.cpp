#include "protocol/VEPEngine.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <span>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"
#include "runtime/Notifier.h"
#include "transport/ByteOrder.h"
#include "transport/IPv4Text.h"
#include "transport/LocalInterfaces.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

// How long a datagram heard by a packet receiver waits for the endpoint's copy. The endpoint
// hands its datagrams over within milliseconds; only one the IP stack dropped goes further.
constexpr int kPacketHoldMs = 100;

}  // namespace

TVEP::TVEP() : AddressChanges(TAddressChanges::Open()), Udp(std::make_unique<TUdpEndpoint>()) {
  Udp->SetBroadcastEnabled(true);
  ApplyBindings(PlanBindings());
  Udp->OnUDPRead = [this](TUdpEndpoint& sender, TByteStream& data, TSocketBinding& binding) {
    if (!PacketPaths.empty() &&
        !Duplicates.FirstDelivery(TReplyPath::Socket, binding.RemoteIP, binding.RemotePort,
                                  std::span(data.Bytes(), data.Size())))
      return;  // a packet receiver delivered it already
    HandleDatagram(sender, data, binding);
  };
  AttachUpgradeProgress();

  std::uint32_t address = 0, mask = 0, gateway = 0;
  FindLocalAddress(address, mask, gateway);
  Host = MakeHostID(address);
  HostAddress = FormatIPv4(htonl(address));
  FollowAddressChanges();
}

// One binding per configured local address, but only on a host with more than one interface
// besides loopback or under a restriction; otherwise the endpoint binds the any-address when it
// first opens.
TVEP::TBindingPlan TVEP::PlanBindings() const {
  TBindingPlan plan;
  if (Restriction || CountAdapters() > 1) {
    if (auto list = GetAdapterList()) {
      for (const TAdapterRecord& adapter : list->Adapters)
        for (const TAdapterAddress& entry : adapter.Addresses)
          if (HostOrderAddress(entry.Address) != 0 && Allowed(entry.Address))
            plan.Addresses.push_back(entry.Address);
      FreeAdapterList(std::move(list));
      plan.PerAddress = !plan.Addresses.empty();
    }
  }
  // A restriction never falls back to the any-address: that would send through every interface.
  if (Restriction) plan.PerAddress = true;
  if (!plan.PerAddress) plan.Addresses.clear();
  return plan;
}

bool TVEP::Allowed(const std::string& address) const {
  return !Restriction ||
         std::find(Restriction->begin(), Restriction->end(), address) != Restriction->end();
}

void TVEP::RestrictBindings(std::vector<std::string> localAddresses) {
  Restriction = std::move(localAddresses);
  if (TBindingPlan plan = PlanBindings(); plan != Planned) ApplyBindings(plan);
}

// The endpoint's bindings may only change while it is closed; the next send opens it again.
void TVEP::ApplyBindings(const TBindingPlan& plan) {
  ClosePacketPaths();
  Udp->SetActive(false);
  Udp->Bindings.Clear();
  for (const std::string& address : plan.Addresses) {
    TSocketBinding& binding = Udp->Bindings.AddBinding();
    binding.IP = address;
    binding.Port = kVEPPort;
  }
  Udp->SetDefaultPort(plan.PerAddress ? 0 : kVEPPort);
  PerAddress = plan.PerAddress;
  Planned = plan;
}

void TVEP::FollowAddressChanges() {
  if (!AddressChanges) return;
  AddressChangesWatch.Start(MainLoop(), AddressChanges->Descriptor(), TWatchKind::Read, [this] {
    if (AddressChanges->TakeChanges()) BindingsStale = true;
  });
}

// The endpoint closes first: while its listener stops, a datagram it still hands over runs
// HandleDatagram, which needs the rest of the engine.
TVEP::~TVEP() {
  ClosePacketPaths();
  Udp->SetActive(false);
}

// The interfaces the endpoint listens on: the device of each bound address, or, for the
// any-address, every interface that is up, not loopback and can broadcast (the one interface
// of the hosts that bind it). A receiver takes the device's own addresses and broadcasts, and
// its datagrams are handled with the device's first bound address, as the endpoint reports
// them.
void TVEP::OpenPacketPaths() {
  PacketPathsOpen = true;
  const std::vector<TLocalInterface> interfaces = TLocalInterfaces::List();
  std::vector<const TLocalInterface*> devices;
  for (const TLocalInterface& entry : interfaces) {
    const bool listened =
        PerAddress ? std::find(Planned.Addresses.begin(), Planned.Addresses.end(),
                               entry.Address) != Planned.Addresses.end()
                   : entry.Up && !entry.Loopback && entry.Broadcast;
    if (listened && std::none_of(devices.begin(), devices.end(), [&](const TLocalInterface* d) {
          return d->Device == entry.Device;
        }))
      devices.push_back(&entry);
  }
  for (const TLocalInterface* device : devices) {
    TPacketMatch match;
    match.Port = kVEPPort;
    for (const TLocalInterface& entry : interfaces) {
      if (entry.Device != device->Device) continue;
      for (const std::string* text : {&entry.Address, &entry.BroadcastAddress})
        if (auto address = ParseDottedIPv4(*text)) match.Destinations.push_back(*address);
    }
    auto path = std::make_unique<TPacketPath>();
    path->Device = device->Device;
    path->LocalIP = PerAddress ? device->Address : "0.0.0.0";
    try {
      const TPacketPath& heard = *path;
      path->Receiver = std::make_unique<TPacketReceiver>(
          device->Index, std::move(match), MainLoop(),
          [this, &heard](const TPacketDatagram& datagram) { HoldPacket(heard, datagram); });
    } catch (const EIdSocketError& error) {
      if (!PacketPathFailureReported) {
        PacketPathFailureReported = true;
        ReportMessage(error.LastError() == EPERM
                          ? "no packet socket (needs root or cap_net_raw): replies the IP stack "
                            "drops are not heard"
                          : "no packet socket on " + device->Device + ": " +
                                std::strerror(error.LastError()));
      }
      if (error.LastError() == EPERM) return;  // the same for every interface
      continue;
    }
    PacketPaths.push_back(std::move(path));
  }
}

void TVEP::ClosePacketPaths() {
  PacketPaths.clear();
  PacketPathsOpen = false;
  HeldPackets.clear();
  HeldPacketsDue.Stop();
}

void TVEP::HoldPacket(const TPacketPath& path, const TPacketDatagram& datagram) {
  char source[kIPv4TextSize];
  WriteDottedIPv4(datagram.Source, source);
  THeldPacket packet{SteadyClock().NowMs() + kPacketHoldMs,
                     path.Device,
                     path.LocalIP,
                     source,
                     datagram.SourcePort,
                     {datagram.Payload.begin(), datagram.Payload.end()}};
  // Held no more than the duplicate check remembers; beyond that a datagram is handled at once.
  if (HeldPackets.size() >= TDuplicateReplies::kCapacity) {
    HandlePacket(packet);
    return;
  }
  HeldPackets.push_back(std::move(packet));
  if (!HeldPacketsDue.Pending())
    HeldPacketsDue.Start(MainLoop(), kPacketHoldMs, [this] { HandleHeldPackets(); });
}

void TVEP::HandleHeldPackets() {
  const std::int64_t now = SteadyClock().NowMs();
  while (!HeldPackets.empty() && HeldPackets.front().DueMs <= now) {
    // Taken out first: the application's callback may send, and a re-planning closes the paths.
    THeldPacket packet = std::move(HeldPackets.front());
    HeldPackets.pop_front();
    HandlePacket(packet);
  }
  if (!HeldPackets.empty() && !HeldPacketsDue.Pending())
    HeldPacketsDue.Start(MainLoop(), static_cast<int>(HeldPackets.front().DueMs - now),
                         [this] { HandleHeldPackets(); });
}

void TVEP::HandlePacket(const THeldPacket& packet) {
  if (!Duplicates.FirstDelivery(TReplyPath::Packet, packet.SourceIP, packet.SourcePort,
                                packet.Payload))
    return;  // the endpoint delivered it
  ReportMessage("reply from " + packet.SourceIP + " heard on the packet socket of " +
                packet.Device);
  TSocketBinding binding;
  binding.IP = packet.LocalIP;
  binding.Port = kVEPPort;
  binding.SetRemote(packet.SourceIP, packet.SourcePort);
  TByteStream data(packet.Payload.data(), packet.Payload.size());
  HandleDatagram(*Udp, data, binding);
}

void TVEP::SetApplicationCallback(TVEPApplicationCallback callback, std::uint8_t flags) {
  ApplicationCallback = callback;
  if (flags & MessageEventsFlag) ForwardMessageEvents = true;
  if (flags & MessageBoxFlag) ShowBoxes = true;
}

void TVEP::SendDiscover() { Broadcast(EncodeDiscover(Host)); }

void TVEP::SendGetIP(const TVEPNodeID& device) { Broadcast(EncodeGetIP(Host, device)); }

void TVEP::SendSetIP(const TVEPNodeID& device, const std::string& address,
                     const std::string& mask, const std::string& gateway, std::uint8_t dhcp) {
  Broadcast(EncodeSetIP(Host, device, address, mask, gateway, dhcp));
}

void TVEP::Broadcast(const TVEPDatagram& datagram) {
  // Requests name their addressee by node ID alone, so every one is a broadcast, and it leaves
  // through every bound interface: a device is reached whatever segment it is on and whatever
  // its address. A request that cannot be sent is lost without a word.
  try {
    if (BindingsStale) {
      BindingsStale = false;
      // Reopening the endpoint loses what its sockets hold, so only a real change does it.
      if (TBindingPlan plan = PlanBindings(); plan != Planned) ApplyBindings(plan);
    }
    Udp->GetSocket();  // opens the endpoint; when it cannot, nothing is heard at all
    if (!PacketPathsOpen) OpenPacketPaths();
    Udp->BroadcastDatagram(kVEPPort, datagram.data(), datagram.size());
  } catch (const std::exception&) {
  }
}

void TVEP::HandleDatagram(TUdpEndpoint&, TByteStream& data, TSocketBinding& binding) {
  TVEPHeader header;
  if (data.Read(&header, sizeof header) < sizeof header) return;
  if (header.Flags & kRequestFlag) {
    ReportMessage("Received a request");  // our own broadcast, heard back
    return;
  }
  if (header.Destination != Host) {
    ReportMessage("Address mismatch");
    return;
  }
  const std::string id = IDText(header.Source);
  if (GetBE32(header.Class) != kVEPClass) {
    ReportMessage("Unknown class");
    return;
  }
  const std::string& interfaceText = PerAddress ? binding.IP : HostAddress;
  switch (GetBE16(header.Method)) {
    case vmDiscover: {
      TDiscoverReply reply;
      if (!DecodeDiscoverReply(data, reply, *this)) return;
      TVEPDeviceEvent event{id.c_str(), interfaceText.c_str(), binding.RemoteIP.c_str(),
                            reply.Name.c_str(), reply.Type.c_str()};
      Raise(vepDeviceFound, &event);
      return;
    }
    case vmGetIP: {
      TIPConfigReply reply;
      reply.IPAddress = binding.RemoteIP;
      if (!DecodeIPConfigReply(data, reply, *this)) return;
      TVEPIPConfigEvent event{id.c_str(),
                              interfaceText.c_str(),
                              reply.IPAddress.c_str(),
                              reply.SubnetMask.c_str(),
                              reply.DefaultGateway.c_str(),
                              static_cast<unsigned char>(reply.DHCP ? 1 : 0)};
      Raise(vepIPConfig, &event);
      return;
    }
    case vmSetIP: {
      TVEPIPSetEvent event{id.c_str(), binding.RemoteIP.c_str()};
      Raise(vepIPSet, &event);
      return;
    }
    default:
      ReportMessage("Unknown method in class VEP");
  }
}

void TVEP::ReportMessage(const std::string& text) {
  if (ShowBoxes) Notifier().Show("HalvexVEP Exception", text, TNoticeButtons::OkCancel);
  if (ForwardMessageEvents) {
    TVEPMessageEvent event{text.c_str()};
    Raise(vepMessage, &event);
  }
}

void TVEP::Raise(std::uint32_t event, void* record) {
  if (ApplicationCallback != nullptr) ApplicationCallback(event, record);
}

}  // namespace scoutor
