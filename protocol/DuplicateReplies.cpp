#include "protocol/DuplicateReplies.h"

namespace scoutor {

namespace {

// FNV-1a over the source and the payload: 64 bits leave no likely collision among the few
// thousand datagrams of two seconds.
class TKeyHash {
 public:
  void Add(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) Value = (Value ^ byte) * 0x100000001b3ull;
  }
  std::uint64_t Value = 0xcbf29ce484222325ull;
};

std::uint64_t KeyOf(std::string_view sourceIP, int sourcePort,
                    std::span<const std::uint8_t> payload) {
  TKeyHash hash;
  hash.Add(std::span(reinterpret_cast<const std::uint8_t*>(sourceIP.data()), sourceIP.size()));
  const std::uint8_t port[3] = {0, static_cast<std::uint8_t>(sourcePort >> 8),
                                static_cast<std::uint8_t>(sourcePort)};
  hash.Add(port);  // the zero ends the address text
  hash.Add(payload);
  return hash.Value;
}

}  // namespace

TDuplicateReplies::TDuplicateReplies(const TClock& clock) : Clock(clock), Entries(kCapacity) {}

bool TDuplicateReplies::FirstDelivery(TReplyPath path, std::string_view sourceIP,
                                      int sourcePort, std::span<const std::uint8_t> payload) {
  const std::uint64_t key = KeyOf(sourceIP, sourcePort, payload);
  const std::int64_t now = Clock.NowMs();
  if (auto found = ByKey.find(key); found != ByKey.end()) {
    TEntry& entry = Entries[found->second];
    if (entry.Unmatched > 0 && now - entry.SeenMs <= kWindowMs) {
      if (entry.Path != path) {
        --entry.Unmatched;
        return false;
      }
      ++entry.Unmatched;
      entry.SeenMs = now;
      return true;
    }
    entry = TEntry{key, path, 1, now, true};
    return true;
  }
  TEntry& entry = Entries[Next];
  if (entry.Used) ByKey.erase(entry.Key);
  entry = TEntry{key, path, 1, now, true};
  ByKey.emplace(key, Next);
  Next = (Next + 1) % kCapacity;
  return true;
}

}  // namespace scoutor
