#pragma once
// One socket together with its local address and the source of the last datagram it received.
// Used alone (the clients' single socket) or as an item of TSocketBindings (the UDP endpoint).
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

  // Closes any socket held, then opens an AF_INET socket (SOCK_DGRAM or SOCK_RAW).
  void Open(int type, int protocol);
  // Binds to IP (any address when empty) and Port, then reads both back from the socket.
  void BindLocal();
  void Close(bool resetLocal = true);
  void Transmit(const std::string& address, int port, const void* buffer, std::size_t length);
  // Return the platform's result unchanged (-1 on failure): the caller checks it.
  int ReceiveFrom(void* buffer, std::size_t capacity, std::string& fromIP, int& fromPort);
  int Receive(void* buffer, std::size_t capacity);
  bool WaitReadable(int timeoutMs);
  void SetOption(int level, int option, int value);
  void SetRemote(const std::string& ip, int port);

 private:
  TSocketHandle Socket = kInvalidSocket;
};

}  // namespace scoutor
