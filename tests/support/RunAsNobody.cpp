#include "tests/support/RunAsNobody.h"

#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/NetnsBed.h"

namespace scoutor::test {

std::string AsNobodyIn(const std::string& ns, const std::function<std::string()>& work) {
  constexpr gid_t kNobody = 65534;
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    std::string result;
    try {
      TNetnsBed::EnterOnThisThread(ns);
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
        throw std::runtime_error("cannot become nobody");
      if (socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) >= 0)
        throw std::runtime_error("raw socket allowed");
      result = work();
    } catch (const std::exception& e) {
      result = std::string("error: ") + e.what();
    }
    if (write(out[1], result.data(), result.size()) < 0) _exit(2);
    _exit(0);
  }
  close(out[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return result;
}

}  // namespace scoutor::test
