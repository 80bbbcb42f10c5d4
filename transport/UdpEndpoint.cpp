#include "transport/UdpEndpoint.h"

#include <sys/socket.h>

#include <algorithm>
#include <exception>

#include "transport/LocalInterfaces.h"
#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

constexpr const char* kLimitedBroadcast = "255.255.255.255";
// Receive space of each socket: a burst of a thousand replies must fit while the main loop is
// busy elsewhere.
constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;

bool IsAnyAddress(const std::string& ip) { return ip.empty() || ip == "0.0.0.0"; }

// Best effort: beyond the system's limit only a privileged process gets the full size, and a
// socket that keeps the default still works.
void EnlargeReceiveBuffer(const TSocketBinding& binding) {
  const int bytes = kReceiveBufferBytes;
  if (setsockopt(binding.Handle(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) == 0) return;
  setsockopt(binding.Handle(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

}  // namespace

TUdpEndpoint::TUdpEndpoint() = default;

TUdpEndpoint::~TUdpEndpoint() { TUdpEndpoint::Deactivate(); }

bool TUdpEndpoint::IsOpen() const {
  const TSocketBinding* current = Current.load();
  return current != nullptr && current->Allocated();
}

std::vector<TUdpEndpoint::TBindingPlan> TUdpEndpoint::PlanBindings() const {
  const std::vector<TLocalInterface> interfaces = TLocalInterfaces::List();
  std::vector<TBindingPlan> plans(Bindings.Count());
  for (std::size_t i = 0; i < Bindings.Count(); ++i) {
    const TSocketBinding& binding = Bindings[i];
    TBindingPlan& plan = plans[i];
    plan.ReportWith = i;
    if (IsAnyAddress(binding.IP)) continue;
    const TLocalInterface* device = TLocalInterfaces::WithAddress(interfaces, binding.IP);
    if (device == nullptr) continue;  // not a local address: bound as it is, and fails so
    plan.Device = device->Device;
    plan.InterfaceIndex = device->Index;
    if (binding.Port == 0) continue;  // a port of its own: nothing to share
    for (std::size_t j = 0; j < i; ++j) {
      if (plans[j].ReportWith == j && plans[j].Device == plan.Device &&
          Bindings[j].Port == binding.Port) {
        plan.ReportWith = j;
        plan.Shared = plans[j].Shared = true;
        break;
      }
    }
  }
  return plans;
}

void TUdpEndpoint::OpenBinding(TSocketBinding& binding, const TBindingPlan& plan, bool first) {
  binding.Open(SOCK_DGRAM, 0);
  EnlargeReceiveBuffer(binding);
  if (plan.Device.empty()) {
    binding.BindLocal();
    return;
  }
  binding.TieToDevice(plan.Device);
  if (plan.Shared) binding.SetOption(SOL_SOCKET, SO_REUSEADDR, 1);
  // The first binding of a device listens on the any-address there (broadcasts included); a
  // further one on its own address. Either keeps its configured IP.
  binding.BindAddress(first ? std::string() : binding.IP);
}

TSocketBinding& TUdpEndpoint::GetSocket() {
  if (TSocketBinding* current = Current.load()) return *current;
  if (Bindings.Count() == 0) {
    if (DefaultPort() < 1) throw EIdNoBindingsSpecified();
    Bindings.AddBinding();
  }
  Plans = PlanBindings();
  try {
    for (std::size_t i = 0; i < Bindings.Count(); ++i)
      OpenBinding(Bindings[i], Plans[i], Plans[i].ReportWith == i);
  } catch (...) {
    // Nothing stays open after a failed activation; the next send tries it all again.
    for (std::size_t i = 0; i < Bindings.Count(); ++i) Bindings[i].Close(false);
    Plans.clear();
    throw;
  }
  Current = &Bindings[0];
  Loop = &MainLoop();
  std::vector<TListenSocket> sockets;
  for (std::size_t i = 0; i < Bindings.Count(); ++i)
    sockets.push_back(TListenSocket{&Bindings[i], &Bindings[Plans[i].ReportWith]});
  Listener = std::make_unique<TUdpListenerThread>(*this, std::move(sockets), BufferSize,
                                                  ThreadedEvent, *Loop);
  Listener->StartRunning();
  ApplyBroadcast();
  return *Current.load();
}

void TUdpEndpoint::Deactivate() {
  if (Current.load() == nullptr) return;
  Listener->StopRunning();
  // The listener may be waiting in a hand-over to this very thread: keep running them.
  if (Loop->IsLoopThread()) Loop->ServiceHandOversUntil([this] { return Listener->HasEnded(); });
  Listener->WaitFor();
  Listener.reset();
  for (std::size_t i = 0; i < Bindings.Count(); ++i) Bindings[i].Close();
  Plans.clear();
  Current = nullptr;
}

void TUdpEndpoint::ApplyBroadcast() {
  for (std::size_t i = 0; i < Bindings.Count(); ++i)
    if (Bindings[i].Allocated()) ApplyBroadcastTo(Bindings[i]);
}

void TUdpEndpoint::Dispatch(TSocketBinding& binding, std::string_view fromIP, int fromPort,
                            TByteStream& data) {
  // Assigned in place: the text fits the string's own storage, so no allocation per datagram.
  binding.RemoteIP.assign(fromIP);
  binding.RemotePort = fromPort;
  Current = &binding;
  if (OnUDPRead) OnUDPRead(*this, data, binding);
}

void TUdpEndpoint::BroadcastDatagram(int port, const void* buffer, std::size_t length) {
  GetSocket();
  std::exception_ptr firstError;
  bool tried = false;
  auto attempt = [&](auto&& send) {
    tried = true;
    try {
      send();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
  };
  std::vector<int> served;  // interface indices sent out of so far
  auto unserved = [&](int index) {
    if (std::find(served.begin(), served.end(), index) != served.end()) return false;
    served.push_back(index);
    return true;
  };
  for (std::size_t i = 0; i < Bindings.Count(); ++i) {
    TSocketBinding& binding = Bindings[i];
    const TBindingPlan& plan = Plans[i];
    if (plan.ReportWith != i) continue;  // the device's first binding sends for it
    if (!plan.Device.empty()) {
      if (unserved(plan.InterfaceIndex))
        attempt([&] {
          binding.TransmitOnInterface(plan.InterfaceIndex, binding.IP, kLimitedBroadcast, port,
                                      buffer, length);
        });
    } else if (IsAnyAddress(binding.IP)) {
      for (const TLocalInterface& device : TLocalInterfaces::List()) {
        if (!device.Up || device.Loopback || !device.Broadcast || !unserved(device.Index))
          continue;
        attempt([&] {
          binding.TransmitOnInterface(device.Index, "", kLimitedBroadcast, port, buffer, length);
        });
      }
    } else {
      attempt([&] { binding.Transmit(kLimitedBroadcast, port, buffer, length); });
    }
  }
  if (!tried) {
    GetSocket().Transmit(kLimitedBroadcast, port, buffer, length);
    return;
  }
  if (firstError) std::rethrow_exception(firstError);
}

}  // namespace scoutor
