#pragma once
// A UDP component with one socket (the TFTP client's base; the endpoint extends it to many).
// The socket is opened on first use and never bound explicitly, so the system picks the local
// port at the first send. Runs on its owner's thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transport/SocketBinding.h"
#include "transport/TransportComponent.h"

namespace scoutor {

using TBytes = std::vector<std::uint8_t>;

class TUdpBase : public TTransportComponent {
 public:
  TUdpBase();
  ~TUdpBase() override;

  // True while a socket is open; setting true opens it, false closes it.
  bool Active() const;
  void SetActive(bool active);
  // SO_BROADCAST; applied at once while active, else when the socket is opened.
  bool BroadcastEnabled() const { return Broadcast; }
  void SetBroadcastEnabled(bool enabled);

  int BufferSize = 8192;     // capacity of one receive
  std::string Host;          // peer of SendBytes
  int Port = 0;              // peer port of SendBytes
  int ReceiveTimeout = -2;   // ms; -2 waits without limit

  // The binding to use, opened on demand (with the broadcast option applied).
  virtual TSocketBinding& GetSocket();

  void SendBytes(const TBytes& bytes);
  void SendBytesTo(const std::string& host, int port, const TBytes& bytes);
  // `host` may be a dotted address, "LOCALHOST" or a host name.
  void SendDatagram(const std::string& host, int port, const void* buffer, std::size_t length);
  // One datagram into `buffer` (timeout -1: ReceiveTimeout); 0 with an empty peer when none
  // came in time. A failed receive raises EIdSocketError, an empty datagram
  // EIdUDPReceiveErrorZeroBytes.
  int ReceiveInto(void* buffer, std::size_t capacity, std::string& peerIP, int& peerPort,
                  int timeoutMs = -1);
  // One datagram of up to BufferSize bytes (a longer one is cut); empty when none came in time.
  TBytes ReceiveBytes(std::string& peerIP, int& peerPort, int timeoutMs = -1);

 protected:
  virtual bool IsOpen() const;
  // Closes the socket(s). A subclass that overrides it calls its own from its destructor.
  virtual void Deactivate();
  // Writes SO_BROADCAST on the open socket(s): -1 when enabled, 0 when not.
  virtual void ApplyBroadcast();
  void ApplyBroadcastTo(TSocketBinding& binding);

 private:
  std::unique_ptr<TSocketBinding> Binding;
  bool Broadcast = false;
};

}  // namespace scoutor
