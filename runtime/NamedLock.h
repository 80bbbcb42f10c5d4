#pragma once
// A machine-wide named lock that only tells whether a lock of that name already existed, to
// keep a second copy of a program from starting. On Linux it is an abstract-namespace Unix
// socket bound to the name: it is scoped like the protocol's UDP port (per network
// namespace) and vanishes with its process, so a crash leaves no stale lock.
#include <string>

namespace scoutor {

// Creates the lock `name` and holds it until the process ends. False when a lock of that name
// already existed (held by this or another process).
bool CreateNamedLock(const std::string& name);

}  // namespace scoutor
