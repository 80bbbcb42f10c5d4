// Following the host's addresses: route netlink notifications in a namespace of the test's own.
#include <gtest/gtest.h>

#include <poll.h>

#include <memory>
#include <string>

#include "hostnet/AddressChanges.h"
#include "tests/support/NetnsBed.h"

namespace scoutor {
namespace {

using test::TNetnsBed;

bool Readable(const TAddressChanges& changes) {
  pollfd wait{changes.Descriptor(), POLLIN, 0};
  return poll(&wait, 1, 0) == 1;
}

class AddressChanges : public ::testing::Test {
 protected:
  void SetUp() override {
    SCOUTOR_REQUIRE_NETNS();
    Bed = std::make_unique<TNetnsBed>();
    Host = Bed->AddHost("pc");
    Other = Bed->AddHost("other");
    Bed->Link(Host, "eth0", "", Other, "eth0", "");
  }

  // Opens the subscription on a thread in the host's namespace and runs `check` there.
  template <class F>
  void InHost(F&& check) {
    Bed->InNamespace(Host, [&] {
      const std::unique_ptr<TAddressChanges> changes = TAddressChanges::Open();
      ASSERT_NE(changes, nullptr);
      check(*changes);
    });
  }

  std::unique_ptr<TNetnsBed> Bed;
  std::string Host, Other;
};

TEST_F(AddressChanges, AnIPv4AddressAddedOrRemovedIsTold) {
  InHost([&](TAddressChanges& changes) {
    EXPECT_FALSE(changes.TakeChanges());  // nothing happened yet
    Bed->Run(Host, "ip addr add 10.0.0.1/24 dev eth0");
    EXPECT_TRUE(Readable(changes));
    EXPECT_TRUE(changes.TakeChanges());
    EXPECT_FALSE(Readable(changes));  // everything waiting was read
    Bed->Run(Host, "ip addr del 10.0.0.1/24 dev eth0");
    EXPECT_TRUE(changes.TakeChanges());
  });
}

TEST_F(AddressChanges, OtherNamespacesAndIPv6AddressesAreNotTold) {
  InHost([&](TAddressChanges& changes) {
    Bed->Run(Other, "ip addr add 10.0.0.2/24 dev eth0");
    Bed->Run(Host, "ip -6 addr add fd00::1/64 dev eth0 nodad");
    EXPECT_FALSE(changes.TakeChanges());
  });
}

}  // namespace
}  // namespace scoutor
