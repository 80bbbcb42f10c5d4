#pragma once
// The usual start of a namespace test: a PC in a namespace of its own on a switched segment
// "lan", as a user's desk machine sits on the devices' network. Fixtures derive from it, call
// SetUpPcOnLan first in their SetUp and return when IsSkipped() (no namespaces here).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/NetnsBed.h"

namespace scoutor::test {

class TPcOnLan : public ::testing::Test {
 protected:
  // The PC's eth0 gets `pcAddress` ("10.0.0.1/24").
  void SetUpPcOnLan(const std::string& pcAddress) {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<TNetnsBed>();
    Lan = Bed->AddSegment("lan");
    Pc = Bed->AddHost("pc");
    Bed->Attach(Pc, Lan, "eth0", pcAddress);
  }

  std::unique_ptr<TNetnsBed> Bed;
  std::string Lan;  // the segment's namespace
  std::string Pc;
};

}  // namespace scoutor::test
