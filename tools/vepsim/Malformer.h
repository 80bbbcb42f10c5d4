#pragma once
// Damaged replies on purpose, so that tests can show the host survives them. Each mode turns a
// good reply into one bad datagram. Pure functions.
#include <optional>
#include <string>
#include <vector>

#include "tools/vepsim/ReplyCodec.h"

namespace scoutor {

enum class TMalformedMode {
  Short,             // the first 26 bytes only
  OverlongElement,   // an extra element whose length (32) runs past the end
  WrongClass,        // Class 00 01 00 02
  WrongMethod,       // Method 00 04
  WrongDestination,  // last byte of Destination flipped (xor 01)
  Oversize,          // padded to 200 bytes
  Empty,             // a zero-length datagram
  RequestFlag,       // Flags 01
};

std::optional<TMalformedMode> ParseMalformedMode(const std::string& name);
// The names ParseMalformedMode accepts, in the order above.
std::vector<std::string> MalformedModeNames();

TBytes MalformReply(const TBytes& good, TMalformedMode mode);

}  // namespace scoutor
