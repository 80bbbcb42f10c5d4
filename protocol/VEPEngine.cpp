#include "protocol/VEPEngine.h"

#include <arpa/inet.h>

#include <algorithm>
#include <exception>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"
#include "runtime/Notifier.h"
#include "transport/ByteOrder.h"

namespace scoutor {

TVEP::TVEP() : AddressChanges(TAddressChanges::Open()), Udp(std::make_unique<TUdpEndpoint>()) {
  Udp->SetBroadcastEnabled(true);
  ApplyBindings(PlanBindings());
  Udp->OnUDPRead = [this](TUdpEndpoint& sender, TByteStream& data, TSocketBinding& binding) {
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

TVEP::~TVEP() = default;

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
