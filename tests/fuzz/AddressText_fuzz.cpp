// Address texts as the socket layer and the host configuration read them. A text that counts as
// a dotted address converts without an error and formats back to itself once leading zeros are
// dropped; no text makes a conversion crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "hostnet/Adapters.h"
#include "hostnet/FormatIPv4.h"
#include "transport/SocketStack.h"

namespace {
volatile std::uint32_t Sink;  // keeps the conversion below from being optimised away
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using scoutor::TSocketStack;
  if (TSocketStack::IsDottedAddress(text)) {
    const scoutor::TAddressBytes bytes = TSocketStack::TextToAddress(text);
    const std::string shown = TSocketStack::AddressToText(bytes);
    Check(TSocketStack::IsDottedAddress(shown));
    Check(TSocketStack::TextToAddress(shown) == bytes);
  } else {
    try {
      TSocketStack::TextToAddress(text);
    } catch (const std::exception&) {
      // refused: that is what a text that is no address may get
    }
  }
  Sink = scoutor::HostOrderAddress(text);
  return 0;
}
