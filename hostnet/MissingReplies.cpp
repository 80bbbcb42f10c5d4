#include "hostnet/MissingReplies.h"

#include <algorithm>
#include <fstream>

#include "hostnet/Adapters.h"
#include "transport/RawSocketPrivilege.h"

namespace scoutor {

namespace {

bool HasAddress(const TAdapterRecord& adapter) {
  return std::any_of(adapter.Addresses.begin(), adapter.Addresses.end(),
                     [](const TAdapterAddress& entry) { return entry.Address != "0.0.0.0"; });
}

bool HasGateway(const TAdapterRecord& adapter) { return adapter.Gateway != "0.0.0.0"; }

int ReadMode(const std::string& path) {
  std::ifstream file(path);
  int mode = 0;
  return file >> mode ? mode : 0;
}

}  // namespace

std::vector<TReversePathDrop> ReversePathDrops(
    const std::vector<TAdapterRecord>& adapters,
    const std::function<int(const std::string& interface)>& filterMode) {
  const bool anyGateway = std::any_of(adapters.begin(), adapters.end(), HasGateway);
  std::vector<TReversePathDrop> drops;
  for (const TAdapterRecord& adapter : adapters) {
    if (!HasAddress(adapter)) continue;
    const int mode = filterMode(adapter.Name);
    const bool routeBack = mode == 1 ? HasGateway(adapter) : anyGateway;
    if (mode != 0 && !routeBack) drops.push_back({adapter.Name, mode});
  }
  return drops;
}

int KernelFilterMode(const std::string& interface) {
  const std::string conf = "/proc/sys/net/ipv4/conf/";
  return std::max(ReadMode(conf + "all/rp_filter"), ReadMode(conf + interface + "/rp_filter"));
}

std::string ReversePathExplanation(const std::vector<TReversePathDrop>& drops,
                                   const std::string& program) {
  if (drops.empty()) return {};
  std::string interfaces, sysctls;
  for (const TReversePathDrop& drop : drops) {
    interfaces += (interfaces.empty() ? "" : ", ") + drop.Interface + " (rp_filter=" +
                  std::to_string(drop.Mode) + ")";
    sysctls += " net.ipv4.conf." + drop.Interface + ".rp_filter=0";
  }
  return "replies from devices outside this host's subnets are dropped by reverse-path "
         "filtering on " + interfaces + ": no route leads back to them. To hear them, grant " +
         program + " the capability to open packet sockets (sudo setcap cap_net_raw+p $(command "
         "-v " + program + ")), or turn the filter off there (sudo sysctl -w"
         " net.ipv4.conf.all.rp_filter=0" + sysctls + ")";
}

std::string MissingRepliesExplanation(const std::string& program) {
  if (TRawSocketPrivilege::Available()) return {};
  const std::optional<std::vector<TAdapterRecord>> adapters = AdapterPlatform().Adapters();
  if (!adapters) return {};
  return ReversePathExplanation(ReversePathDrops(*adapters, KernelFilterMode), program);
}

std::string FirewallHint(const std::string& program) {
  if (TRawSocketPrivilege::Available()) return {};
  return "a host firewall may drop the devices' replies, which belong to no connection it "
         "knows: allow UDP from the devices in, or grant " + program +
         " cap_net_raw to hear them below the firewall";
}

}  // namespace scoutor
