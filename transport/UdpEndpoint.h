#pragma once
// The UDP endpoint: one socket per binding, sends through the current binding, and a listener
// thread that hands every received datagram to OnUDPRead with the binding it arrived on.
// The first send (or Active = true) opens and binds every binding and starts the listener;
// the current binding is the first one until a datagram arrives, then the binding of the most
// recent datagram.
//
// Interfaces: Linux delivers no broadcast to a socket bound to a unicast address, and sends the
// limited broadcast wherever the routing table says (nowhere, on a laptop wired straight to a
// device with no default route). So a binding for a local address is served by a socket bound
// to the any-address on the binding's port and tied to that address's device (SO_BINDTODEVICE):
// it hears unicasts and broadcasts arriving on that device, the host's own broadcasts out of it
// included, and what it sends leaves through that device. A second binding on the same device
// and port gets a socket bound to its own address (SO_REUSEADDR on both), which takes only the
// unicasts sent to that address; datagrams on a device are reported with the device's first
// binding, so each datagram is dispatched once. An any-address binding is bound as it is.
// BroadcastDatagram sends one datagram out of every interface the endpoint listens on, naming
// the interface per datagram (IP_PKTINFO) rather than asking the routing table.
//
// Threads: the owner's thread (the main loop's) sends, activates and deactivates; the listener
// waits and receives. Bindings must not be changed while the endpoint is active.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/EventLoop.h"
#include "transport/ByteStream.h"
#include "transport/SocketBindings.h"
#include "transport/UdpBase.h"
#include "transport/UdpListenerThread.h"

namespace scoutor {

class TUdpEndpoint;

// `data` holds exactly the datagram's bytes, positioned at 0; `binding` is the binding it
// arrived on, with RemoteIP and RemotePort giving its source. Both are valid during the call.
using TUDPReadEvent =
    std::function<void(TUdpEndpoint& sender, TByteStream& data, TSocketBinding& binding)>;

class TUdpEndpoint : public TUdpBase {
 public:
  TUdpEndpoint();
  ~TUdpEndpoint() override;

  TSocketBindings Bindings;
  TUDPReadEvent OnUDPRead;
  // false: OnUDPRead runs on the main loop's thread; true: on the listener thread. Read when
  // the endpoint is activated.
  bool ThreadedEvent = false;

  int DefaultPort() const { return Bindings.DefaultPort; }
  void SetDefaultPort(int port) { Bindings.DefaultPort = port; }

  // Activates the endpoint when needed and returns the current binding. With no bindings, one
  // on the any-address and DefaultPort is added; with neither, EIdNoBindingsSpecified.
  TSocketBinding& GetSocket() override;
  // The binding sends go through; nullptr while inactive.
  TSocketBinding* CurrentBinding() const { return Current.load(); }

  // Sends one datagram to 255.255.255.255:`port` out of every interface the endpoint listens
  // on: each device with a binding once, and for an any-address binding every up, non-loopback
  // interface that can broadcast. Every interface is tried; then the first error raised, if
  // any, is raised again. Where no such interface exists, the datagram goes through the
  // current binding as SendDatagram would send it.
  void BroadcastDatagram(int port, const void* buffer, std::size_t length);

 protected:
  bool IsOpen() const override;
  void Deactivate() override;
  void ApplyBroadcast() override;

 private:
  friend class TUdpListenerThread;

  // How one binding's socket is opened, and where its datagrams are reported.
  struct TBindingPlan {
    std::string Device;         // the device of the binding's address; empty: not tied
    int InterfaceIndex = 0;
    std::size_t ReportWith = 0; // index of the binding its datagrams are reported with
    bool Shared = false;        // the device and port serve more than one binding
  };

  std::vector<TBindingPlan> PlanBindings() const;
  void OpenBinding(TSocketBinding& binding, const TBindingPlan& plan, bool first);
  // Runs for each datagram (on the main loop's thread unless ThreadedEvent).
  void Dispatch(TSocketBinding& binding, std::string_view fromIP, int fromPort,
                TByteStream& data);

  std::vector<TBindingPlan> Plans;  // one per binding while active
  std::atomic<TSocketBinding*> Current{nullptr};
  TEventLoop* Loop = nullptr;  // the loop that runs dispatches; set at activation
  std::unique_ptr<TUdpListenerThread> Listener;
};

}  // namespace scoutor
