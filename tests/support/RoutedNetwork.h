#pragma once
// A small routed network for reachability tests:
//   client 10.9.0.1 -- 10.9.0.254 router 10.8.0.254 -- 10.8.0.2 far
// The router forwards, and answers "unreachable" for 10.77.0.0/24. 10.9.0.3 is a dead address
// on the client's link: frames to it go out and nobody takes them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/NetnsBed.h"

namespace scoutor::test {

class TRoutedNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // A counter of the client namespace's ICMP statistics (/proc/net/snmp), e.g. "InEchoReps".
  long IcmpCounter(const std::string& name);

  std::unique_ptr<TNetnsBed> Bed;
  std::string Client, Router, Far;
};

}  // namespace scoutor::test
