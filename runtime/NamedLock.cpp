#include "runtime/NamedLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <algorithm>
#include <cstring>

namespace scoutor {

bool CreateNamedLock(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A leading zero byte puts the name into the abstract namespace.
  const std::size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
    close(fd);
    return false;
  }
  return true;  // the descriptor stays open, and the lock held, until the process ends
}

}  // namespace scoutor
