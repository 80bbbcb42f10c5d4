#pragma once
// The local interfaces a scan asks through, and the choice of one of them by --interface.
// Any thread.
#include <string>
#include <vector>

#include "transport/LocalInterfaces.h"

namespace scoutor::vepctl {

// The interfaces a discovery broadcast can leave through (up, not loopback, able to
// broadcast), one entry per IPv4 address, as the system lists them now.
std::vector<TLocalInterface> ScanInterfaces();

// The entries of `interfaces` that `choice` names: those of the device with that name (as
// `ip link` shows it), or the one holding that address (dotted, read as every address is).
// Empty when it names none of them.
std::vector<TLocalInterface> ChosenInterfaces(const std::vector<TLocalInterface>& interfaces,
                                              const std::string& choice);

// "eth0 10.0.0.1, wlan0 192.168.1.5", or a text saying there is no interface to ask through.
std::string DescribeInterfaces(const std::vector<TLocalInterface>& interfaces);

}  // namespace scoutor::vepctl
