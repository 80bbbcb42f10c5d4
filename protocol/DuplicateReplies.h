#pragma once
// Recognises the second copy of a datagram that reached the engine by two paths: its UDP
// socket and the packet socket of the interface it came in on. Each path delivers a datagram at
// most once, so a copy is a datagram with the same source address, source port and payload that
// the other path delivered within the last two seconds and that no copy has matched yet; the
// first path to deliver wins. A device that sends the same reply again (one per discovery
// broadcast) is heard each time: its repeats come on the same path and only count up what the
// other path may still match. (The IP identification would tell repeats apart too, but a UDP
// socket does not show it.) Memory is bounded: the most recent kCapacity datagrams are kept,
// and each look-up is one hash. Main loop thread only.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/Clock.h"

namespace scoutor {

enum class TReplyPath { Socket, Packet };

class TDuplicateReplies {
 public:
  static constexpr std::size_t kCapacity = 4096;
  static constexpr std::int64_t kWindowMs = 2000;

  explicit TDuplicateReplies(const TClock& clock);

  // True for the first delivery of a datagram; false for the other path's copy of one
  // delivered already.
  bool FirstDelivery(TReplyPath path, std::string_view sourceIP, int sourcePort,
                     std::span<const std::uint8_t> payload);

 private:
  struct TEntry {
    std::uint64_t Key = 0;
    TReplyPath Path = TReplyPath::Socket;
    std::uint32_t Unmatched = 0;  // deliveries the other path has not matched yet
    std::int64_t SeenMs = 0;
    bool Used = false;
  };

  const TClock& Clock;
  std::vector<TEntry> Entries;  // a ring: the oldest entry gives way to a new datagram
  std::size_t Next = 0;
  std::unordered_map<std::uint64_t, std::size_t> ByKey;
};

}  // namespace scoutor
