#include "tests/support/RoutedNetwork.h"

#include <sstream>

namespace scoutor::test {

void TRoutedNetworkTest::SetUp() {
  SCOUTOR_REQUIRE_NETNS();
  Bed = std::make_unique<TNetnsBed>();
  Client = Bed->AddHost("client");
  Router = Bed->AddHost("router");
  Far = Bed->AddHost("far");
  Bed->Link(Client, "eth0", "10.9.0.1/24", Router, "eth0", "10.9.0.254/24");
  Bed->Link(Router, "eth1", "10.8.0.254/24", Far, "eth0", "10.8.0.2/24");
  Bed->Run(Client, "ip route add default via 10.9.0.254");
  Bed->Run(Client, "ip neigh add 10.9.0.3 lladdr 02:00:00:00:00:99 dev eth0 nud permanent");
  Bed->Run(Far, "ip route add default via 10.8.0.254");
  Bed->Run(Router, "sysctl -qw net.ipv4.ip_forward=1");
  Bed->Run(Router, "ip route add unreachable 10.77.0.0/24");
}

long TRoutedNetworkTest::IcmpCounter(const std::string& name) {
  std::istringstream lines(Bed->Run(Client, "grep '^Icmp:' /proc/net/snmp"));
  std::string names, values, word;
  std::getline(lines, names);
  std::getline(lines, values);
  std::istringstream n(names), v(values);
  while (n >> word) {
    std::string value;
    v >> value;
    if (word == name) return std::stol(value);
  }
  return -1;
}

}  // namespace scoutor::test
