#include "hostnet/Reachability.h"

#include <optional>

#include "hostnet/ReachabilityService.h"
#include "runtime/HeadlessLoop.h"
#include "transport/SocketErrors.h"

namespace scoutor {

// The service run to the check's end on a private loop, so the caller's thread waits as it
// always has and the check takes the same path as every other.
bool PingAddress(const std::string& address) {
  THeadlessLoop loop;
  TReachabilityService service(loop);
  std::optional<TCheckResult> result;
  service.Check(address, [&result](const TCheckResult& ended) { result = ended; });
  loop.RunUntil([&result] { return result.has_value(); }, -1);
  if (result->Outcome == TReachability::Failed) throw EIdException(result->Error);
  return result->Outcome == TReachability::Reachable;
}

}  // namespace scoutor
