#pragma once
// The UDP endpoint's listener: waits on all of the endpoint's sockets at once (one wait of at
// most a second per cycle), receives each datagram and dispatches it with the binding it is
// attributed to. Unless the endpoint's events are threaded, each dispatch is handed to the main
// loop's thread and the listener waits there until it has run, so received datagrams are
// handled on that thread one at a time.
// Threads: created, started, stopped and destroyed by the endpoint on its owner's thread; the
// cycle runs on its own thread. It only reads the sockets it was given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/EventLoop.h"
#include "transport/SocketBinding.h"
#include "transport/StoppableThread.h"

namespace scoutor {

class TUdpEndpoint;

// One socket to wait on: the binding holding it, and the binding its datagrams are reported
// with (the same one, or the first binding of the same interface).
struct TListenSocket {
  TSocketBinding* Socket;
  TSocketBinding* Binding;
};

class TUdpListenerThread final : public TStoppableThread {
 public:
  static constexpr int kWaitPeriodMs = 1000;

  TUdpListenerThread(TUdpEndpoint& endpoint, std::vector<TListenSocket> sockets, int bufferSize,
                     bool threadedEvent, TEventLoop& loop);
  ~TUdpListenerThread() override;

 protected:
  void RunOnce() override;
  void Stopping() override;
  void Ended() override;

 private:
  void Receive(const TListenSocket& socket);

  TUdpEndpoint& Endpoint;
  const std::vector<TListenSocket> Sockets;
  const std::size_t BufferSize;
  const bool Threaded;
  TEventLoop& Loop;
  std::vector<std::uint8_t> Buffer;  // reused for every datagram
  int WakeSignal;                    // readable once the thread is being stopped
};

}  // namespace scoutor
