#include "transport/UdpBase.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "transport/SocketErrors.h"
#include "transport/SocketStack.h"

namespace scoutor {

TUdpBase::TUdpBase() = default;

TUdpBase::~TUdpBase() { TUdpBase::Deactivate(); }

bool TUdpBase::Active() const { return IsOpen(); }

void TUdpBase::SetActive(bool active) {
  if (active)
    GetSocket();
  else
    Deactivate();
}

void TUdpBase::SetBroadcastEnabled(bool enabled) {
  if (enabled == Broadcast) return;
  Broadcast = enabled;
  if (IsOpen()) ApplyBroadcast();
}

TSocketBinding& TUdpBase::GetSocket() {
  if (!Binding) Binding = std::make_unique<TSocketBinding>();
  if (!Binding->Allocated()) {
    Binding->Open(SOCK_DGRAM, 0);
    ApplyBroadcastTo(*Binding);
  }
  return *Binding;
}

bool TUdpBase::IsOpen() const { return Binding && Binding->Allocated(); }

void TUdpBase::Deactivate() { Binding.reset(); }

void TUdpBase::ApplyBroadcast() {
  if (IsOpen()) ApplyBroadcastTo(*Binding);
}

void TUdpBase::ApplyBroadcastTo(TSocketBinding& binding) {
  // Written also when off, so the socket's state never depends on the platform's default.
  binding.SetOption(SOL_SOCKET, SO_BROADCAST, Broadcast ? -1 : 0);
}

void TUdpBase::SendBytes(const TBytes& bytes) { SendBytesTo(Host, Port, bytes); }

void TUdpBase::SendBytesTo(const std::string& host, int port, const TBytes& bytes) {
  SendDatagram(host, port, bytes.data(), bytes.size());
}

void TUdpBase::SendDatagram(const std::string& host, int port, const void* buffer,
                            std::size_t length) {
  const std::string address = TSocketStack::LookupAddress(host);
  GetSocket().Transmit(address, port, buffer, length);
}

int TUdpBase::ReceiveInto(void* buffer, std::size_t capacity, std::string& peerIP, int& peerPort,
                          int timeoutMs) {
  if (timeoutMs == -1) timeoutMs = ReceiveTimeout;
  TSocketBinding& binding = GetSocket();
  if (!binding.WaitReadable(timeoutMs)) {
    peerIP.clear();
    peerPort = 0;
    return 0;
  }
  const int received = binding.ReceiveFrom(buffer, capacity, peerIP, peerPort);
  if (received == -1) throw EIdSocketError(errno);
  if (received == 0) throw EIdUDPReceiveErrorZeroBytes();
  return received;
}

TBytes TUdpBase::ReceiveBytes(std::string& peerIP, int& peerPort, int timeoutMs) {
  // A datagram longer than BufferSize is cut to it.
  TBytes bytes(static_cast<std::size_t>(std::max(BufferSize, 0)));
  const int received = ReceiveInto(bytes.data(), bytes.size(), peerIP, peerPort, timeoutMs);
  bytes.resize(static_cast<std::size_t>(received));
  return bytes;
}

}  // namespace scoutor
