#pragma once
// Tells when the host's IPv4 addresses change (an interface gained or lost an address), so that
// the engine can follow them while it runs. On Linux a route netlink socket subscribed to the
// IPv4 address group; it lives in the network namespace of the thread that opened it. The owner
// watches Descriptor() on its loop and calls TakeChanges() when it is readable.
#include <memory>

namespace scoutor {

class TAddressChanges {
 public:
  // Subscribes to the host's address changes; nullptr when that is not possible here (the
  // host's addresses are then read once, as before).
  static std::unique_ptr<TAddressChanges> Open();
  ~TAddressChanges();
  TAddressChanges(const TAddressChanges&) = delete;
  TAddressChanges& operator=(const TAddressChanges&) = delete;

  // Readable while notifications are waiting.
  int Descriptor() const { return Socket; }
  // Reads every waiting notification without blocking; true when an IPv4 address was added or
  // removed (or notifications were lost, so that one may have been).
  bool TakeChanges();

 private:
  explicit TAddressChanges(int socket) : Socket(socket) {}
  int Socket;
};

}  // namespace scoutor
