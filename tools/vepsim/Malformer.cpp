#include "tools/vepsim/Malformer.h"

#include <utility>

#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

const std::pair<const char*, TMalformedMode> kModes[] = {
    {"short", TMalformedMode::Short},
    {"overlong-element", TMalformedMode::OverlongElement},
    {"wrong-class", TMalformedMode::WrongClass},
    {"wrong-method", TMalformedMode::WrongMethod},
    {"wrong-destination", TMalformedMode::WrongDestination},
    {"oversize", TMalformedMode::Oversize},
    {"empty", TMalformedMode::Empty},
    {"request-flag", TMalformedMode::RequestFlag},
};

// Code of the padding element of an oversize reply: no element of any reply kind.
constexpr std::uint8_t kPaddingCode = 0x7F;

}  // namespace

std::optional<TMalformedMode> ParseMalformedMode(const std::string& name) {
  for (const auto& [text, mode] : kModes)
    if (name == text) return mode;
  return std::nullopt;
}

std::vector<std::string> MalformedModeNames() {
  std::vector<std::string> names;
  for (const auto& entry : kModes) names.emplace_back(entry.first);
  return names;
}

TBytes MalformReply(const TBytes& good, TMalformedMode mode) {
  TBytes bad = good;
  switch (mode) {
    case TMalformedMode::Short:
      bad.resize(kHeaderSize - 1);
      break;
    case TMalformedMode::OverlongElement: {
      // Says 32 value bytes, brings 2; the code is one the reply kind knows.
      const std::uint16_t method = GetBE16(good.data() + offsetof(TVEPHeader, Method));
      bad.push_back(method == vmDiscover ? vtName : vtIPAddress);
      bad.push_back(32);
      bad.push_back('X');
      bad.push_back('X');
      break;
    }
    case TMalformedMode::WrongClass:
      PutBE32(bad.data() + offsetof(TVEPHeader, Class), 0x00010002);
      break;
    case TMalformedMode::WrongMethod:
      PutBE16(bad.data() + offsetof(TVEPHeader, Method), 4);
      break;
    case TMalformedMode::WrongDestination:
      bad[offsetof(TVEPHeader, Destination) + 7] ^= 0x01;
      break;
    case TMalformedMode::Oversize: {
      // Good replies stay under the limit; one element of padding (or, one byte short of it,
      // a single trailing byte) brings the datagram to exactly the limit.
      const std::size_t missing = kReplySizeLimit - bad.size();
      if (missing == 1) {
        bad.push_back(0);
      } else {
        bad.push_back(kPaddingCode);
        bad.push_back(static_cast<std::uint8_t>(missing - 2));
        bad.resize(kReplySizeLimit, 0);
      }
      break;
    }
    case TMalformedMode::Empty:
      bad.clear();
      break;
    case TMalformedMode::RequestFlag:
      bad[offsetof(TVEPHeader, Flags)] = kRequestFlag;
      break;
  }
  return bad;
}

}  // namespace scoutor
