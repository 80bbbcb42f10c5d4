// The raw-socket capability is in the effective set only while an ICMP socket is opened, as
// for a program that holds it as a permitted file capability (the packages grant it so).
#include "transport/RawSocketPrivilege.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/capability.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "transport/IcmpSocket.h"

namespace scoutor {
namespace {

// Runs `work` in a child process, so that what it does to the capabilities stays there;
// the child's exit code is `work`'s result.
int InChild(const std::function<int()>& work) {
  const pid_t child = fork();
  if (child == 0) _exit(work());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

bool PermittedButNotEffective() {
  cap_t caps = cap_get_proc();
  const cap_value_t raw[] = {CAP_NET_RAW};
  cap_flag_value_t permitted = CAP_CLEAR;
  cap_get_flag(caps, CAP_NET_RAW, CAP_PERMITTED, &permitted);
  const bool lowered =
      cap_set_flag(caps, CAP_EFFECTIVE, 1, raw, CAP_CLEAR) == 0 && cap_set_proc(caps) == 0;
  cap_free(caps);
  return permitted == CAP_SET && lowered;
}

TEST(RawSocketPrivilege, IsRaisedOnlyWhileTheRawSocketOpens) {
  if (getuid() != 0) GTEST_SKIP() << "needs root, whose permitted set holds the capability";
  const int result = InChild([] {
    if (!PermittedButNotEffective() || TRawSocketPrivilege::Effective()) return 1;
    TSocketBinding binding;
    if (TIcmpSocket::Open(binding, IPPROTO_ICMP) != TIcmpSocketKind::Raw) return 2;
    if (TRawSocketPrivilege::Effective()) return 3;  // lowered again right after
    return 0;
  });
  EXPECT_EQ(result, 0) << "1: setup, 2: no raw socket, 3: still effective";
}

TEST(RawSocketPrivilege, LeavesAnEffectiveCapabilityAsItWas) {
  if (getuid() != 0) GTEST_SKIP() << "needs root, whose effective set holds the capability";
  const int result = InChild([] {
    {
      const TRawSocketPrivilege privilege;
      if (privilege.Raised()) return 1;
    }
    return TRawSocketPrivilege::Effective() ? 0 : 2;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace scoutor
