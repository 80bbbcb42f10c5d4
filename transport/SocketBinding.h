#pragma once
// One socket together with its local address and the source of the last datagram it received.
// Used alone (the clients' single socket) or as an item of TSocketBindings (the UDP endpoint).
// One thread uses a binding at a time, except that the UDP listener waits on and reads from a
// socket that its owner's thread may send through meanwhile.
#include <cstddef>
#include <string>

#include "transport/SocketStack.h"

namespace scoutor {

class TSocketBinding {
 public:
  TSocketBinding() = default;
  ~TSocketBinding();  // closes, resetting the local address
  TSocketBinding(const TSocketBinding&) = delete;
  TSocketBinding& operator=(const TSocketBinding&) = delete;

  std::string IP;        // local dotted address; empty: any local address
  int Port = 0;          // local port; 0: the system chooses
  std::string RemoteIP;  // peer of the last datagram received; empty when none
  int RemotePort = 0;

  TSocketHandle Handle() const { return Socket; }
  bool Allocated() const { return Socket != kInvalidSocket; }

  // Closes any socket held (keeping IP and Port, so a binding can be opened again on the same
  // address), then opens an AF_INET socket (SOCK_DGRAM or SOCK_RAW). EIdInvalidSocket on failure.
  void Open(int type, int protocol);
  // Binds to IP (any address when empty) and Port, then reads both back from the socket.
  // EIdCouldNotBindSocket when the address and port are in use, else EIdSocketError.
  void BindLocal();
  // Binds to `address` (any address when empty) and Port and reads back Port; IP is left as it
  // is. Used for sockets that listen on the any-address of one interface on a binding's behalf.
  void BindAddress(const std::string& address);
  // Restricts the socket to one network interface (by name) for receiving and sending.
  void TieToDevice(const std::string& device);
  void Close(bool resetLocal = true);
  void Transmit(const std::string& address, int port, const void* buffer, std::size_t length);
  // As Transmit, but leaves through the interface with index `interfaceIndex` whatever the
  // routing table says (how limited broadcasts reach every segment); `source` (dotted, empty:
  // the interface's own) is the datagram's source address.
  void TransmitOnInterface(int interfaceIndex, const std::string& source,
                           const std::string& address, int port, const void* buffer,
                           std::size_t length);
  // Return the platform's result unchanged (-1 on failure): the caller checks it.
  int ReceiveFrom(void* buffer, std::size_t capacity, std::string& fromIP, int& fromPort);
  int Receive(void* buffer, std::size_t capacity);
  // EIdConnClosedGracefully when no socket is open; a failed wait reads as false.
  bool WaitReadable(int timeoutMs);
  void SetOption(int level, int option, int value);
  void SetRemote(const std::string& ip, int port);

 private:
  void CheckSent(long result, std::size_t length);

  TSocketHandle Socket = kInvalidSocket;
};

}  // namespace scoutor
