#pragma once
// Auto IP: picks a free address for a device in the subnet of the local adapter through which
// it was heard, by checking the subnet's host numbers one by one until one does not answer.
// Runs on the calling thread and blocks it for the whole search. Sends nothing but the checks
// and reserves nothing.
#include <functional>
#include <string>

namespace scoutor {

// True when `address` (dotted text) answers.
using TReachabilityCheck = std::function<bool(const std::string& address)>;

// `localAddress` is the dotted text of a configured local address, or 0.0.0.0 for the host's
// first configured one. The candidates are the host numbers after the local host's own up to
// the top of its subnet, then from the bottom up to the local host's own, never the network
// and broadcast numbers. The first candidate that does not answer is chosen: true with its
// dotted text in `address` and the adapter's mask and first gateway in `mask` and `gateway`.
// False with the outputs untouched when the local address is not configured, the
// configuration cannot be read, or every candidate answers. An error raised by a check ends
// the choice at once and goes up to the caller.
bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway, const TReachabilityCheck& answers);

// As above, with one ICMP echo per candidate, several candidates at a time (TAddressChooser on
// a private loop, run to its end), and a candidate that a host holds without answering the
// echo (its link-layer address resolved) counted as answering. A failed check raises
// EIdException with its text.
bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway);

}  // namespace scoutor
