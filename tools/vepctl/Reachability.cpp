#include "tools/vepctl/Reachability.h"

#include <chrono>
#include <future>

#include "hostnet/Reachability.h"
#include "transport/SocketErrors.h"

namespace scoutor::vepctl {

namespace {

struct TCheck {
  bool Reachable = false;
  std::string Error;  // the echo client's error text, if it failed
};

TCheck Check(const std::string& address) {
  TCheck check;
  try {
    check.Reachable = PingAddress(address);
  } catch (const EIdException& error) {
    check.Error = error.what();
  }
  return check;
}

}  // namespace

std::vector<bool> PingAll(TSession& session, const std::vector<std::string>& addresses) {
  std::vector<std::future<TCheck>> checks;
  checks.reserve(addresses.size());
  for (const std::string& address : addresses)
    checks.push_back(std::async(std::launch::async, [address] { return Check(address); }));
  // Each check ends after its echo client's time-out at the latest.
  session.Wait(
      [&checks] {
        for (auto& check : checks)
          if (check.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
        return true;
      },
      -1);
  std::vector<bool> reachable;
  reachable.reserve(checks.size());
  for (std::size_t i = 0; i < checks.size(); ++i) {
    const TCheck check = checks[i].get();
    if (!check.Error.empty() && session.Vep().LogLine)
      session.Vep().LogLine("ping " + addresses[i] + ": " + check.Error);
    reachable.push_back(check.Reachable);
  }
  return reachable;
}

}  // namespace scoutor::vepctl
