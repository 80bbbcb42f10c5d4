#pragma once
// Puts devices' addresses on a real interface of the simulator's namespace, so that they answer
// pings and ARP as real devices do, and moves a device's address after a set-IP: the old
// address goes, the new one comes with its prefix, and a non-zero gateway becomes the default
// route. Talks rtnetlink; needs CAP_NET_ADMIN. Used on the simulator's one thread.
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

  // Adds `address` with the prefix of `mask`; an empty text on success, else what went wrong.
  std::string Hold(const TIPv4& address, const TIPv4& mask) const;
  // Removes `address` if the interface has it.
  void Release(const TIPv4& address) const;

  const std::string& InterfaceName() const { return Name; }

 private:
  // Error numbers of the kernel's answers, 0 on success.
  int AddAddress(const TIPv4& address, int prefix, const TIPv4& mask) const;
  int RemoveAddress(const TIPv4& address) const;

  std::string Name;
  int Index = 0;
};

}  // namespace scoutor
