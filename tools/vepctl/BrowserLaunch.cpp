#include "tools/vepctl/BrowserLaunch.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace scoutor::vepctl {

namespace {

constexpr const char* kOpener = "xdg-open";

}  // namespace

std::string OpenInBrowser(const std::string& url) {
  std::string program = kOpener;
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (const int error = posix_spawnp(&child, kOpener, nullptr, nullptr, argv, environ); error != 0)
    return std::string(kOpener) + " cannot be run: " + std::strerror(error);
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR)
      return std::string("waiting for ") + kOpener + " failed: " + std::strerror(errno);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status))
    return std::string(kOpener) + " exited with " + std::to_string(WEXITSTATUS(status));
  return std::string(kOpener) + " was ended by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace scoutor::vepctl
