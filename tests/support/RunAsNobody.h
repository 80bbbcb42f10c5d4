#pragma once
// Runs a piece of a test as an unprivileged user: in a child process inside a network
// namespace, as user and group nobody, without capabilities (a raw socket must be refused).
#include <functional>
#include <string>

namespace scoutor::test {

// Returns what `work` returned, or "error: <message>" for an error it raised.
std::string AsNobodyIn(const std::string& ns, const std::function<std::string()>& work);

}  // namespace scoutor::test
