#include "transport/UdpListenerThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "transport/ByteStream.h"
#include "transport/SocketStack.h"
#include "transport/UdpEndpoint.h"

namespace scoutor {

TUdpListenerThread::TUdpListenerThread(TUdpEndpoint& endpoint, std::vector<TListenSocket> sockets,
                                       int bufferSize, bool threadedEvent, TEventLoop& loop)
    : Endpoint(endpoint),
      Sockets(std::move(sockets)),
      BufferSize(static_cast<std::size_t>(std::max(bufferSize, 0))),
      Threaded(threadedEvent),
      Loop(loop),
      WakeSignal(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TUdpListenerThread::~TUdpListenerThread() {
  Finish();
  if (WakeSignal >= 0) close(WakeSignal);
}

void TUdpListenerThread::Stopping() {
  // Ends a wait in progress at once instead of at the end of its period.
  if (WakeSignal >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(WakeSignal, &one, sizeof one);
  }
}

void TUdpListenerThread::Ended() {
  // The owner may be waiting for this thread while servicing hand-overs.
  Loop.Wake();
}

void TUdpListenerThread::RunOnce() {
  std::vector<TSocketHandle> ready;
  for (const TListenSocket& socket : Sockets) ready.push_back(socket.Socket->Handle());
  if (WakeSignal >= 0) ready.push_back(WakeSignal);
  if (TSocketStack::WaitForSockets(&ready, nullptr, nullptr, kWaitPeriodMs) < 0) {
    // A failed wait counts as a cycle without datagrams; pause so that a lasting failure does
    // not spin.
    pollfd wake{WakeSignal, POLLIN, 0};
    poll(&wake, WakeSignal >= 0 ? 1 : 0, kWaitPeriodMs);
    return;
  }
  for (TSocketHandle handle : ready) {
    if (IsStopped()) return;
    for (const TListenSocket& socket : Sockets) {
      if (socket.Socket->Handle() == handle) {
        Receive(socket);
        break;
      }
    }
  }
}

void TUdpListenerThread::Receive(const TListenSocket& socket) {
  Buffer.resize(BufferSize);
  std::string fromIP;
  int fromPort = 0;
  // A datagram longer than the buffer is cut to it.
  const int received = socket.Socket->ReceiveFrom(Buffer.data(), Buffer.size(), fromIP, fromPort);
  // An empty datagram or a failed receive is skipped: neither may end the listening, or one
  // stray packet from anyone on the segment would leave the endpoint deaf.
  if (received <= 0) return;
  Buffer.resize(static_cast<std::size_t>(received));
  TByteStream data(Buffer.data(), Buffer.size());
  TSocketBinding& binding = *socket.Binding;
  auto step = [&] { Endpoint.Dispatch(binding, fromIP, fromPort, data); };
  try {
    if (Threaded)
      step();
    else
      Loop.HandOver(step);
  } catch (...) {
    // An error raised by the receive handler drops that datagram; listening goes on.
  }
}

}  // namespace scoutor
