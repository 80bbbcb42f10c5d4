#pragma once
// An ordered collection of socket bindings, owned by a component; index 0 is the first.
#include <memory>
#include <vector>

#include "transport/SocketBinding.h"

namespace scoutor {

class TSocketBindings {
 public:
  int DefaultPort = 0;  // the Port that AddBinding gives a new binding

  TSocketBinding& AddBinding();
  // Searches from the last item to the first; nullptr when no open socket has that handle.
  TSocketBinding* FindByHandle(TSocketHandle handle);
  // Replaces the items by copies (IP, Port, RemoteIP, RemotePort; no socket) of `other`'s.
  void CopyFrom(const TSocketBindings& other);
  std::size_t Count() const { return Items.size(); }
  TSocketBinding& operator[](std::size_t index) { return *Items[index]; }
  const TSocketBinding& operator[](std::size_t index) const { return *Items[index]; }
  void Clear() { Items.clear(); }

 private:
  std::vector<std::unique_ptr<TSocketBinding>> Items;
};

}  // namespace scoutor
