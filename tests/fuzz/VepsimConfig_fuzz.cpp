// The simulator's device file: any text gives a usable list of devices or a refusal with a
// reason; no other error leaves the reader or the list's check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "tools/vepsim/DeviceSources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    scoutor::CheckDeviceList(scoutor::ParseDeviceList(text));
  } catch (const std::runtime_error& refusal) {
    if (std::string(refusal.what()).empty()) std::abort();
  }
  return 0;
}
