#include "tools/vepctl/Reachability.h"

#include <optional>

namespace scoutor::vepctl {

std::vector<TCheckResult> CheckAll(TSession& session, const std::vector<std::string>& addresses) {
  TReachabilityService service(MainLoop());
  std::vector<TCheckResult> results(addresses.size());
  std::size_t ended = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i)
    service.Check(addresses[i], [&results, &ended, i](const TCheckResult& result) {
      results[i] = result;
      ++ended;
    });
  // Every check ends: with its answer, its time-out or its failure.
  session.Wait([&] { return ended == addresses.size(); }, -1);
  for (const TCheckResult& result : results)
    if (result.Outcome == TReachability::Failed && session.Vep().LogLine)
      session.Vep().LogLine("ping " + result.Address + ": " + result.Error);
  return results;
}

TAddressChoice ChooseFreeAddress(TSession& session, const std::string& localAddress) {
  TReachabilityService service(MainLoop());
  TAddressChooser chooser(service, MainLoop());
  std::optional<TAddressChoice> choice;
  chooser.Start(localAddress, [&choice](const TAddressChoice& result) { choice = result; });
  session.Wait([&choice] { return choice.has_value(); }, -1);
  return *choice;
}

}  // namespace scoutor::vepctl
