#include "transport/UdpListenerThread.h"

#include <arpa/inet.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "transport/ByteStream.h"
#include "transport/IPv4Text.h"
#include "transport/UdpEndpoint.h"

namespace scoutor {

TUdpListenerThread::TUdpListenerThread(TUdpEndpoint& endpoint, std::vector<TListenSocket> sockets,
                                       int bufferSize, bool threadedEvent, TEventLoop& loop)
    : Endpoint(endpoint),
      Sockets(std::move(sockets)),
      BufferSize(static_cast<std::size_t>(std::max(bufferSize, 0))),
      Threaded(threadedEvent),
      Loop(loop),
      WakeSignal(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      Buffer(kBatch * BufferSize) {
  for (const TListenSocket& socket : Sockets)
    Waits.push_back(pollfd{socket.Socket->Handle(), POLLIN, 0});
  if (WakeSignal >= 0) Waits.push_back(pollfd{WakeSignal, POLLIN, 0});
}

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
  for (pollfd& wait : Waits) wait.revents = 0;
  const int result = poll(Waits.data(), Waits.size(), kWaitPeriodMs);
  const bool failed =
      result < 0 || std::any_of(Waits.begin(), Waits.end(),
                                [](const pollfd& wait) { return wait.revents & POLLNVAL; });
  if (failed) {
    // A failed wait counts as a cycle without datagrams; pause so that a lasting failure does
    // not spin.
    pollfd wake{WakeSignal, POLLIN, 0};
    poll(&wake, WakeSignal >= 0 ? 1 : 0, kWaitPeriodMs);
    return;
  }
  // Every ready socket gets an equal share of the batch, so that a flood on one binding does
  // not starve the others; they are drained in binding order.
  std::size_t ready = 0;
  for (std::size_t i = 0; i < Sockets.size(); ++i)
    if (Waits[i].revents & (POLLIN | POLLERR | POLLHUP)) ++ready;
  if (ready == 0) return;
  const std::size_t share = std::max<std::size_t>(kBatch / ready, 1);
  Count = 0;
  for (std::size_t i = 0; i < Sockets.size() && Count < kBatch; ++i) {
    if (IsStopped()) return;
    if (Waits[i].revents & (POLLIN | POLLERR | POLLHUP))
      Drain(Sockets[i], std::min(share, kBatch - Count));
  }
  if (Count == 0 || IsStopped()) return;
  try {
    if (Threaded)
      DispatchBatch();
    else
      Loop.HandOver([this] { DispatchBatch(); });
  } catch (...) {
    // Errors of single datagrams are dealt with in DispatchBatch; nothing else may end the
    // listening.
  }
}

void TUdpListenerThread::Drain(const TListenSocket& socket, std::size_t room) {
  const std::size_t first = Count;
  for (std::size_t i = 0; i < room; ++i) {
    const std::size_t slot = first + i;
    // A datagram longer than the buffer is cut to it.
    Vectors[slot] = iovec{Buffer.data() + slot * BufferSize, BufferSize};
    mmsghdr& header = Headers[slot];
    header = mmsghdr{};
    header.msg_hdr.msg_name = &Sources[slot];
    header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    header.msg_hdr.msg_iov = &Vectors[slot];
    header.msg_hdr.msg_iovlen = 1;
  }
  const int received = recvmmsg(socket.Socket->Handle(), &Headers[first],
                                static_cast<unsigned>(room), MSG_DONTWAIT, nullptr);
  // A failed receive yields nothing; it may not end the listening.
  for (int i = 0; i < received; ++i) {
    const std::size_t slot = first + static_cast<std::size_t>(i);
    const std::size_t length = Headers[slot].msg_len;
    // An empty datagram is skipped: one stray packet from anyone on the segment may not
    // disturb the listening.
    if (length == 0) continue;
    TSlot& kept = Slots[Count];
    kept.Binding = socket.Binding;
    kept.Length = length;
    const sockaddr_in& source = Sources[slot];
    TAddressBytes from;
    std::memcpy(from.data(), &source.sin_addr.s_addr, from.size());
    kept.SourceIPLength = WriteDottedIPv4(from, kept.SourceIP);
    kept.SourcePort = ntohs(source.sin_port);
    if (slot != Count) {
      // An empty datagram before this one left a gap: close it.
      std::memmove(Buffer.data() + Count * BufferSize, Buffer.data() + slot * BufferSize,
                   length);
    }
    ++Count;
  }
}

void TUdpListenerThread::DispatchBatch() {
  for (std::size_t i = 0; i < Count; ++i) {
    // Threaded, stopping cuts the batch short. A batch handed to the main loop is one step:
    // it runs whole, also when the owner runs it while waiting for this thread to end.
    if (Threaded && IsStopped()) return;
    const TSlot& slot = Slots[i];
    TByteStream data(Buffer.data() + i * BufferSize, slot.Length);
    try {
      Endpoint.Dispatch(*slot.Binding,
                        std::string_view(slot.SourceIP, slot.SourceIPLength), slot.SourcePort,
                        data);
    } catch (...) {
      // An error raised by the receive handler drops that datagram; the others go on.
    }
  }
}

}  // namespace scoutor
