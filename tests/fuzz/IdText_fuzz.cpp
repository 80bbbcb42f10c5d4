// ID texts as users and callers type them. Reading one never writes beyond the 8 bytes, always
// gives a device ID (00 01 in front), and the ID text of any node ID reads back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/VepWire.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  scoutor::TVEPNodeID id{};
  scoutor::IDFromText(text.c_str(), id);
  Check(id[0] == 0x00 && id[1] == 0x01);

  scoutor::TVEPNodeID any{};
  for (std::size_t i = 0; i < any.size() && i < size; ++i) any[i] = data[i];
  const std::string shown = scoutor::IDText(any);
  Check(shown.size() == 17);
  scoutor::TVEPNodeID back{};
  scoutor::IDFromText(shown.c_str(), back);
  Check(std::equal(back.begin() + 2, back.end(), any.begin() + 2));
  return 0;
}
