// vepctl's IP plans: any text gives rows or problems and nothing else. Every problem has a
// text and a line within the text, problems come in the order of their lines, a plan without
// problems has rows, and every row names a device in the plain ID form, with the settings of a
// DHCP row empty and those of a static row given.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/vepctl/Plans.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const scoutor::vepctl::TIPPlan plan = scoutor::vepctl::ParseIPPlan(text);
  const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n') +
                                         std::count(text.begin(), text.end(), '\r'));
  int previous = 0;
  for (const auto& problem : plan.Problems) {
    Require(!problem.Text.empty());
    Require(problem.Line >= previous && problem.Line <= lines);
    previous = problem.Line;
  }
  Require(!plan.Problems.empty() || !plan.Rows.empty());
  for (const auto& row : plan.Rows) {
    Require(row.Line >= 1 && row.Line <= lines);
    Require(row.ID.size() == 17);
    Require(row.DHCP == row.Address.empty());
    Require(row.Address.empty() == row.Mask.empty() && row.Mask.empty() == row.Gateway.empty());
  }
  return 0;
}
