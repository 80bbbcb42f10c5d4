#include "tools/vepctl/CommandSuggestion.h"

#include <algorithm>
#include <cstddef>

namespace scoutor::vepctl {

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string UnknownCommand(int argc, const char* const* argv,
                           const std::vector<std::string>& commands) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("-")) continue;
    if (std::find(commands.begin(), commands.end(), argument) != commands.end()) return {};
    return argument;
  }
  return {};
}

std::string ClosestCommand(const std::string& name, const std::vector<std::string>& commands) {
  std::string closest;
  // A guess that needs more edits than half the name is no guess.
  std::size_t best = name.size() / 2 + 1;
  for (const std::string& command : commands) {
    const std::size_t distance = EditDistance(name, command);
    if (distance < best) {
      best = distance;
      closest = command;
    }
  }
  return closest;
}

}  // namespace scoutor::vepctl
