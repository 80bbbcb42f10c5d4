#pragma once
// A component with one raw IP socket (the ICMP echo client's base). The socket is opened on
// first use and never bound; for ICMP, where raw sockets are refused, the unprivileged ICMP
// datagram socket stands in (see TIcmpSocket). Runs on its owner's thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/IcmpSocket.h"
#include "transport/SocketBinding.h"
#include "transport/TransportComponent.h"

namespace scoutor {

class TRawSocketBase : public TTransportComponent {
 public:
  TRawSocketBase();
  ~TRawSocketBase() override;

  std::string Host;         // destination: dotted address, "LOCALHOST" or a host name
  int Port = 0;             // ICMP sends with port 0
  int Protocol = 255;       // IP protocol number of the raw socket
  int ReceiveTimeout = 0;   // ms
  int TimeToLive = 128;     // for sent packets
  int BufferSize = 8192;

  // The binding, its socket opened on demand; every call sets the time-to-live option.
  TSocketBinding& GetSocket();
  // What GetSocket opened (meaningful while the socket is open).
  TIcmpSocketKind SocketKind() const { return Kind; }

  void SendDatagram(const std::string& host, int port, const void* buffer, std::size_t length);
  // Clears `buffer`, waits up to `timeoutMs` (below 0: ReceiveTimeout) and receives one packet,
  // IP header in front. Returns its length, 0 when nothing came in time; a failed receive
  // raises EIdSocketError.
  int ReceiveBuffer(std::uint8_t* buffer, std::size_t capacity, int timeoutMs = -1);

 private:
  std::unique_ptr<TSocketBinding> Binding;
  TIcmpSocketKind Kind = TIcmpSocketKind::Raw;
};

}  // namespace scoutor
