#pragma once
// Names a command that vepctl does not have, with the closest of those it has.
#include <string>
#include <vector>

namespace scoutor::vepctl {

// The first argument that is not an option, when it names none of `commands`; else empty.
std::string UnknownCommand(int argc, const char* const* argv,
                           const std::vector<std::string>& commands);
// The command closest to `name` (fewest single-letter edits), or empty when none is near.
std::string ClosestCommand(const std::string& name, const std::vector<std::string>& commands);

}  // namespace scoutor::vepctl
