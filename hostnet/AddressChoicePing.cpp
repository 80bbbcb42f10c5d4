#include <optional>

#include "hostnet/AddressChoice.h"
#include "hostnet/AddressChooser.h"
#include "runtime/HeadlessLoop.h"
#include "transport/SocketErrors.h"

namespace scoutor {

// The chooser run to its end on a private loop, so the caller's thread waits as it always has.
bool ChooseIPAddress(const std::string& localAddress, std::string& address, std::string& mask,
                     std::string& gateway) {
  THeadlessLoop loop;
  TReachabilityService service(loop);
  TAddressChooser chooser(service, loop);
  std::optional<TAddressChoice> choice;
  chooser.Start(localAddress, [&choice](const TAddressChoice& result) { choice = result; });
  loop.RunUntil([&choice] { return choice.has_value(); }, -1);
  if (!choice->Error.empty()) throw EIdException(choice->Error);
  if (!choice->Found) return false;
  address = choice->Address;
  mask = choice->Mask;
  gateway = choice->Gateway;
  return true;
}

}  // namespace scoutor
