#pragma once
// Moves a device's address on a real interface of the simulator's namespace after a set-IP, so
// that reachability changes as with a real device: the old address goes, the new one comes
// with its prefix, and a non-zero gateway becomes the default route. Talks rtnetlink;
// needs CAP_NET_ADMIN. Used on the simulator's one thread.
#include <string>

#include "tools/vepsim/SimDevice.h"

namespace scoutor {

class TReaddresser {
 public:
  // Throws std::runtime_error when the interface does not exist.
  explicit TReaddresser(const std::string& interfaceName);

  // Returns an empty text on success, otherwise what went wrong.
  std::string Apply(const TIPv4& oldAddress, const TIPv4& newAddress, const TIPv4& mask,
                    const TIPv4& gateway) const;

  const std::string& InterfaceName() const { return Name; }

 private:
  std::string Name;
  int Index = 0;
};

}  // namespace scoutor
