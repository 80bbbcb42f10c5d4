#pragma once
// The VEP protocol engine, TVEP: one per process (EngineInstance). It owns the UDP endpoint on
// port 17784, broadcasts the three requests, checks and decodes every datagram it receives and
// raises the results as events on the one application callback, and routes every diagnostic
// of the protocol side (message box and/or vepMessage event). Requests are fire-and-forget.
// Threads: the endpoint's listener hands each datagram to the main loop's thread and waits
// there, so HandleDatagram, diagnostics and events run on that thread, one datagram at a time;
// the operations are called on that thread as well.
// Where the process may open packet sockets, each interface the endpoint listens on also has a
// packet receiver: it hears replies that the IP stack drops before the endpoint's sockets see
// them (reverse-path filtering, a host firewall). A datagram both paths deliver is handled once.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostnet/AddressChanges.h"
#include "protocol/Diagnostics.h"
#include "protocol/DuplicateReplies.h"
#include "protocol/VEP.h"
#include "protocol/UpgradeOutcome.h"
#include "protocol/VepFormat.h"
#include "protocol/VepWire.h"
#include "runtime/DescriptorWatch.h"
#include "runtime/SingleShot.h"
#include "transport/ByteStream.h"
#include "transport/PacketReceiver.h"
#include "transport/SocketBinding.h"
#include "transport/TftpClient.h"
#include "transport/UdpEndpoint.h"

namespace scoutor {

class TVEP final : public TVEPDiagnostics {
 public:
  // Reads the host's adapters: one binding per configured local address when the host has more
  // than one interface besides loopback, else one on the any-address; the host's node ID comes
  // from the first configured address (0.0.0.0 when there is none). Opens no socket: the
  // endpoint opens at the first send. Then follows the host's IPv4 addresses on the main loop:
  // after a change, the next request first binds the addresses gained and drops the ones gone,
  // by the same rules.
  TVEP();
  ~TVEP() override;
  TVEP(const TVEP&) = delete;
  TVEP& operator=(const TVEP&) = delete;

  // Stores the callback (nullptr: no events). Flag bits switch diagnostics on as events
  // (MessageEventsFlag) and as message boxes (MessageBoxFlag); a clear bit switches nothing off.
  void SetApplicationCallback(TVEPApplicationCallback callback, std::uint8_t flags);

  // Broadcast one request to 255.255.255.255:17784 out of every bound interface. Any error
  // while sending is swallowed: the request is lost.
  void SendDiscover();
  void SendGetIP(const TVEPNodeID& device);
  void SendSetIP(const TVEPNodeID& device, const std::string& address, const std::string& mask,
                 const std::string& gateway, std::uint8_t dhcp);

  // From now on binds only those of the host's addresses that are in `localAddresses`, each on
  // a binding of its own however many interfaces the host has, so requests leave and replies
  // are heard through those interfaces alone. An address the host does not hold (or no longer
  // holds) is left out; with none left, nothing is sent.
  void RestrictBindings(std::vector<std::string> localAddresses);

  // The endpoint's receive handler: checks the header, decodes the reply and raises its event.
  void HandleDatagram(TUdpEndpoint& sender, TByteStream& data, TSocketBinding& binding);

  // Uploads a firmware file to the device at `deviceAddress` (dotted) by TFTP under the remote
  // name "/", raising vepUpgradeProgress events on the way; blocks the calling thread until the
  // transfer ends. 0: done; 1: the device refused access; 2: it reported file not found;
  // 3: any other failure. A failure is also reported as "Upgrade failed with reason: ...".
  std::int32_t UpgradeDevice(const std::string& fileName, const std::string& deviceAddress);
  // The same upload driven by the main loop: returns at once; the progress events and the
  // diagnostic come on the loop's thread as the transfer advances, then `done` with the outcome
  // (result and reason). False (and `done` never runs) while another upload is running.
  bool StartUpgrade(const std::string& fileName, const std::string& deviceAddress,
                    std::function<void(const TUpgradeOutcome& outcome)> done);
  bool Upgrading() const;
  TTftpClient& Tftp() { return *Upload; }

  // Shows `text` in a "HalvexVEP Exception" box, then raises it as vepMessage, as the flags say.
  void ReportMessage(const std::string& text) override;

  const TVEPNodeID& HostID() const { return Host; }
  const std::string& HostAddressText() const { return HostAddress; }
  bool MultiBinding() const { return PerAddress; }
  bool ForwardMessages() const { return ForwardMessageEvents; }
  bool ShowMessageBoxes() const { return ShowBoxes; }
  TUdpEndpoint& Endpoint() { return *Udp; }

 private:
  // Which bindings the host's adapters call for: per configured address, or one on the
  // any-address.
  struct TBindingPlan {
    bool PerAddress = false;
    std::vector<std::string> Addresses;
    bool operator==(const TBindingPlan&) const = default;
  };
  TBindingPlan PlanBindings() const;
  bool Allowed(const std::string& address) const;
  void ApplyBindings(const TBindingPlan& plan);
  void FollowAddressChanges();
  // One packet receiver per interface of the planned bindings, opened with the endpoint.
  struct TPacketPath {
    std::string Device;
    std::string LocalIP;  // of the binding its datagrams are handled with
    std::unique_ptr<TPacketReceiver> Receiver;
  };
  void OpenPacketPaths();
  void ClosePacketPaths();
  // A datagram a packet receiver heard, held back for a moment so that the endpoint, which
  // hears it too unless the IP stack dropped it, delivers it first.
  struct THeldPacket {
    std::int64_t DueMs = 0;
    std::string Device;
    std::string LocalIP;
    std::string SourceIP;
    int SourcePort = 0;
    std::vector<std::uint8_t> Payload;
  };
  void HoldPacket(const TPacketPath& path, const TPacketDatagram& datagram);
  void HandleHeldPackets();
  void HandlePacket(const THeldPacket& packet);
  void Broadcast(const TVEPDatagram& datagram);
  void AttachUpgradeProgress();
  void RaiseProgress(std::int32_t kind, std::int64_t value);
  void Raise(std::uint32_t event, void* record);

  std::unique_ptr<TAddressChanges> AddressChanges;  // opened before the adapters are read
  TDescriptorWatch AddressChangesWatch;
  bool BindingsStale = false;  // the host's addresses changed since the bindings were planned
  TBindingPlan Planned;
  std::optional<std::vector<std::string>> Restriction;  // the addresses that may be bound
  std::unique_ptr<TUdpEndpoint> Udp;
  std::vector<std::unique_ptr<TPacketPath>> PacketPaths;
  bool PacketPathsOpen = false;
  bool PacketPathFailureReported = false;  // a failed open is reported once
  std::deque<THeldPacket> HeldPackets;
  TSingleShot HeldPacketsDue;
  TDuplicateReplies Duplicates{SteadyClock()};
  std::unique_ptr<TTftpClient> Upload;
  TVEPNodeID Host{};
  std::string HostAddress;
  bool PerAddress = false;
  bool ForwardMessageEvents = false;
  bool ShowBoxes = false;
  TVEPApplicationCallback ApplicationCallback = nullptr;
};

}  // namespace scoutor
