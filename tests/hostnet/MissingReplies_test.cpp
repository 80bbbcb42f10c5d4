// Which interfaces drop the replies of devices outside this host's subnets, by reverse-path
// filtering, and what the user is told.
#include "hostnet/MissingReplies.h"

#include <gtest/gtest.h>

#include <map>

#include "hostnet/LinuxAdapterPlatform.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

TAdapterRecord Adapter(const std::string& name, const std::string& address,
                       const std::string& gateway = "0.0.0.0") {
  return {name, {{address, "255.255.255.0"}}, gateway};
}

std::string Drops(const std::vector<TAdapterRecord>& adapters, std::map<std::string, int> modes) {
  std::string text;
  for (const TReversePathDrop& drop :
       ReversePathDrops(adapters, [&](const std::string& name) { return modes[name]; }))
    text += drop.Interface + "=" + std::to_string(drop.Mode) + " ";
  return text;
}

TEST(ReversePathFilter, LooseFilteringDropsWithoutAnyDefaultRouteStrictWithoutOneThere) {
  const TAdapterRecord wired = Adapter("eth0", "10.0.0.1");
  const TAdapterRecord uplink = Adapter("wlan0", "192.168.1.5", "192.168.1.1");
  const TAdapterRecord unconfigured = Adapter("eth1", "0.0.0.0");
  // A laptop wired straight to devices, no default route: both modes drop.
  EXPECT_EQ(Drops({wired}, {{"eth0", 2}}), "eth0=2 ");
  EXPECT_EQ(Drops({wired}, {{"eth0", 1}}), "eth0=1 ");
  EXPECT_EQ(Drops({wired}, {{"eth0", 0}}), "");
  // A default route through another interface is a way back in loose mode only.
  EXPECT_EQ(Drops({wired, uplink}, {{"eth0", 2}, {"wlan0", 2}}), "");
  EXPECT_EQ(Drops({wired, uplink}, {{"eth0", 1}, {"wlan0", 1}}), "eth0=1 ");
  EXPECT_EQ(Drops({unconfigured}, {{"eth1", 2}}), "");
}

TEST(ReversePathFilter, TheExplanationNamesTheInterfacesAndBothRemedies) {
  EXPECT_EQ(ReversePathExplanation({}, "vepctl"), "");
  EXPECT_EQ(ReversePathExplanation({{"eth0", 2}}, "vepctl"),
            "replies from devices outside this host's subnets are dropped by reverse-path "
            "filtering on eth0 (rp_filter=2): no route leads back to them. To hear them, grant "
            "vepctl the capability to open packet sockets (sudo setcap cap_net_raw+p $(command "
            "-v vepctl)), or turn the filter off there (sudo sysctl -w "
            "net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.eth0.rp_filter=0)");
}

// The kernel takes the higher of "all" and the interface's own setting, per namespace.
TEST(ReversePathFilter, TheKernelsSettingsAndRoutesAreReadInTheNamespace) {
  SCOUTOR_REQUIRE_NETNS();
  test::TNetnsBed bed;
  const std::string laptop = bed.AddHost("laptop");
  bed.Attach(laptop, bed.AddSegment("lan"), "eth0", "10.0.0.1/24");
  bed.Run(laptop, "sysctl -qw net.ipv4.conf.all.rp_filter=1 net.ipv4.conf.eth0.rp_filter=2");
  const auto dropsThere = [&] {
    return bed.InNamespace(laptop, [] {
      return Drops(*TLinuxAdapterPlatform().Adapters(),
                   {{"eth0", KernelFilterMode("eth0")}});
    });
  };
  EXPECT_EQ(dropsThere(), "eth0=2 ");
  bed.Run(laptop, "ip route add default via 10.0.0.254");
  EXPECT_EQ(dropsThere(), "");
}

}  // namespace
}  // namespace scoutor
