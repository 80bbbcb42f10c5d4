#pragma once
// The shared socket stack: IPv4 socket calls whose failures become error kinds, address
// conversions and look-ups, and the readiness wait. It holds no state that changes, so its
// operations may be called from any thread; its lifetime follows the live transport
// components (Linux needs no socket start-up, so nothing else hangs on it).
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "transport/IPv4Text.h"

namespace scoutor {

using TSocketHandle = int;
constexpr TSocketHandle kInvalidSocket = -1;

class TSocketStack {
 public:
  // Counted by TTransportComponent: the stack exists while at least one component lives.
  static void AddComponent();
  static void RemoveComponent();
  static int LiveComponents();

  // A result of -1 is a failure: true when errno is one of `tolerated` (the caller decides),
  // otherwise EIdSocketError is raised. Any other result is success: false.
  static bool CheckResult(int result, std::initializer_list<int> tolerated = {});
  // "Socket Error # <code>\r\n<text>", the text chosen by the error's condition (empty when the
  // code is not in the table).
  static std::string TranslateError(int code);

  // "LOCALHOST" in any case gives "127.0.0.1", a dotted address is returned as it is, anything
  // else is looked up by name (first IPv4 address); a failed look-up raises EIdSocketError
  // with the resolver's code (a negative EAI_ value; errno for a system failure).
  static std::string LookupAddress(const std::string& host);
  // Dotted texts as IPv4Text.h reads and writes them.
  static bool IsDottedAddress(const std::string& text);
  static std::string AddressToText(const TAddressBytes& address);
  // Raises std::invalid_argument for a text that is not a dotted address.
  static TAddressBytes TextToAddress(const std::string& text);

  // Each given list (nullptr: absent) holds at most 64 sockets, else EIdStackSetSizeExceeded.
  // -2 waits without limit (another negative time fails the wait). Afterwards each list keeps,
  // in its order, only its ready sockets. Any descriptor number works (poll, not select).
  // Returns the number of ready sockets, 0 on time-out, -1 on failure, unchecked.
  static int WaitForSockets(std::vector<TSocketHandle>* read, std::vector<TSocketHandle>* write,
                            std::vector<TSocketHandle>* error, int timeoutMs);

  static std::uint16_t HostToNet16(std::uint16_t value);
  static std::uint16_t NetToHost16(std::uint16_t value);
};

}  // namespace scoutor
