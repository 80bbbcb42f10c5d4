#include "transport/RawSocketBase.h"

#include <netinet/in.h>

#include <cstring>

#include "transport/SocketStack.h"

namespace scoutor {

TRawSocketBase::TRawSocketBase() : Binding(std::make_unique<TSocketBinding>()) {}

TRawSocketBase::~TRawSocketBase() = default;

TSocketBinding& TRawSocketBase::GetSocket() {
  if (!Binding->Allocated()) Kind = TIcmpSocket::Open(*Binding, Protocol);
  Binding->SetOption(IPPROTO_IP, IP_TTL, TimeToLive);
  return *Binding;
}

void TRawSocketBase::SendDatagram(const std::string& host, int port, const void* buffer,
                                  std::size_t length) {
  const std::string address = TSocketStack::LookupAddress(host);
  GetSocket().Transmit(address, port, buffer, length);
}

int TRawSocketBase::ReceiveBuffer(std::uint8_t* buffer, std::size_t capacity, int timeoutMs) {
  std::memset(buffer, 0, capacity);
  if (timeoutMs < 0) timeoutMs = ReceiveTimeout;
  TSocketBinding& socket = GetSocket();
  if (!socket.WaitReadable(timeoutMs)) return 0;
  const int count = TIcmpSocket::Receive(socket, Kind, buffer, capacity);
  TSocketStack::CheckResult(count);
  return count;
}

}  // namespace scoutor
