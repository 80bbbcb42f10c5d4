#pragma once
// The UDP endpoint's listener: waits on all of the endpoint's sockets at once (one wait of at
// most a second per cycle), then drains what the ready sockets hold, up to kBatch datagrams a
// cycle, and dispatches them one after the other in the order received, each with the binding
// it is attributed to and its own source. Unless the endpoint's events are threaded, the whole
// batch is handed to the main loop's thread in one hand-over and the listener waits there until
// it has run, so received datagrams are handled on that thread one at a time.
// Threads: created, started, stopped and destroyed by the endpoint on its owner's thread; the
// cycle runs on its own thread. It only reads the sockets it was given.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
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
  // Most datagrams received and dispatched in one cycle (one hand-over).
  static constexpr std::size_t kBatch = 64;

  TUdpListenerThread(TUdpEndpoint& endpoint, std::vector<TListenSocket> sockets, int bufferSize,
                     bool threadedEvent, TEventLoop& loop);
  ~TUdpListenerThread() override;

 protected:
  void RunOnce() override;
  void Stopping() override;
  void Ended() override;

 private:
  // One received datagram of the batch; its bytes are in the slot's part of Buffer.
  struct TSlot {
    TSocketBinding* Binding;
    std::size_t Length;
    char SourceIP[INET_ADDRSTRLEN];
    std::size_t SourceIPLength;
    int SourcePort;
  };

  // Receives without waiting what `socket` holds, at most `room` datagrams, into the batch.
  void Drain(const TListenSocket& socket, std::size_t room);
  // Runs the dispatch of every datagram in the batch, in order (on the main loop's thread
  // unless threaded).
  void DispatchBatch();

  TUdpEndpoint& Endpoint;
  const std::vector<TListenSocket> Sockets;
  const std::size_t BufferSize;
  const bool Threaded;
  TEventLoop& Loop;
  int WakeSignal;  // readable once the thread is being stopped
  // Reused every cycle: the wait list, the receive space of kBatch datagrams and the batch.
  std::vector<pollfd> Waits;
  std::vector<std::uint8_t> Buffer;
  std::array<mmsghdr, kBatch> Headers{};
  std::array<iovec, kBatch> Vectors{};
  std::array<sockaddr_in, kBatch> Sources{};
  std::array<TSlot, kBatch> Slots{};
  std::size_t Count = 0;
};

}  // namespace scoutor
