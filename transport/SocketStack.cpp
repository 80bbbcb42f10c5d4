#include "transport/SocketStack.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "transport/SocketErrors.h"

namespace scoutor {

namespace {

std::atomic<int> LiveCount{0};

// A list handed to one readiness wait may hold at most this many sockets.
constexpr std::size_t kMaxSocketsPerList = 64;

// The text of a socket error, chosen by its condition; empty for a code not in the table.
const char* ErrorText(int code) {
  switch (code) {
    case EINTR: return "Interrupted system call.";
    case EBADF: return "Bad file number.";
    case EACCES: return "Access denied.";
    case EFAULT: return "Bad address.";
    case EINVAL: return "Invalid argument.";
    case EMFILE: return "Too many open files.";
    case EWOULDBLOCK: return "Operation would block. ";
    case EINPROGRESS: return "Operation now in progress.";
    case EALREADY: return "Operation already in progress.";
    case ENOTSOCK: return "Socket operation on non-socket.";
    case EDESTADDRREQ: return "Destination address required.";
    case EMSGSIZE: return "Message too long.";
    case EPROTOTYPE: return "Protocol wrong type for socket.";
    case ENOPROTOOPT: return "Bad protocol option.";
    case EPROTONOSUPPORT: return "Protocol not supported.";
    case ESOCKTNOSUPPORT: return "Socket type not supported.";
    case EOPNOTSUPP: return "Operation not supported on socket.";
    case EPFNOSUPPORT: return "Protocol family not supported.";
    case EAFNOSUPPORT: return "Address family not supported by protocol family.";
    case EADDRINUSE: return "Address already in use.";
    case EADDRNOTAVAIL: return "Cannot assign requested address.";
    case ENETDOWN: return "Network is down.";
    case ENETUNREACH: return "Network is unreachable.";
    case ENETRESET: return "Net dropped connection or reset.";
    case ECONNABORTED: return "Software caused connection abort.";
    case ECONNRESET: return "Connection reset by peer.";
    case ENOBUFS: return "No buffer space available.";
    case EISCONN: return "Socket is already connected.";
    case ENOTCONN: return "Socket is not connected.";
    case ESHUTDOWN: return "Cannot send or receive after socket is closed.";
    case ETOOMANYREFS: return "Too many references, cannot splice.";
    case ETIMEDOUT: return "Connection timed out.";
    case ECONNREFUSED: return "Connection refused.";
    case ELOOP: return "Too many levels of symbolic links.";
    case ENAMETOOLONG: return "File name too long.";
    case EHOSTDOWN: return "Host is down.";
    case EHOSTUNREACH: return "No route to host.";
    case ENOTEMPTY: return "Directory not empty";
    default: return "";
  }
}

}  // namespace

void TSocketStack::AddComponent() { ++LiveCount; }

void TSocketStack::RemoveComponent() { --LiveCount; }

int TSocketStack::LiveComponents() { return LiveCount.load(); }

bool TSocketStack::CheckResult(int result, std::initializer_list<int> tolerated) {
  if (result != -1) return false;
  const int code = errno;
  for (int allowed : tolerated)
    if (allowed == code) return true;
  throw EIdSocketError(code);
}

std::string TSocketStack::TranslateError(int code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + ErrorText(code);
}

std::string TSocketStack::LookupAddress(const std::string& host) {
  std::string upper = host;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (upper == "LOCALHOST") return "127.0.0.1";
  if (IsDottedAddress(host)) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* answer = nullptr;
  const int result = getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  if (result != 0) {
    // The resolver's own code (negative EAI_ values), or errno for a system failure.
    throw EIdSocketError(result == EAI_SYSTEM ? errno : result);
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr);
  TAddressBytes bytes;
  std::memcpy(bytes.data(), &address->sin_addr.s_addr, 4);
  freeaddrinfo(answer);
  return AddressToText(bytes);
}

bool TSocketStack::IsDottedAddress(const std::string& text) {
  return ParseDottedIPv4(text).has_value();
}

std::string TSocketStack::AddressToText(const TAddressBytes& address) {
  return DottedIPv4(address);
}

TAddressBytes TSocketStack::TextToAddress(const std::string& text) {
  // Refused rather than read some other way, which would silently address another host.
  if (const auto address = ParseDottedIPv4(text)) return *address;
  throw std::invalid_argument("'" + text + "' is not a valid IPv4 address");
}

int TSocketStack::WaitForSockets(std::vector<TSocketHandle>* read,
                                 std::vector<TSocketHandle>* write,
                                 std::vector<TSocketHandle>* error, int timeoutMs) {
  std::vector<TSocketHandle>* lists[3] = {read, write, error};
  // What each list waits for, and which returned events count as ready for it. A socket with
  // a pending error or a hang-up counts as readable and writable, as the call would not block.
  const short wanted[3] = {POLLIN, POLLOUT, POLLPRI};
  const short readyOn[3] = {POLLIN | POLLERR | POLLHUP, POLLOUT | POLLERR | POLLHUP, POLLPRI};
  for (auto* list : lists)
    if (list != nullptr && list->size() > kMaxSocketsPerList) throw EIdStackSetSizeExceeded();

  std::vector<pollfd> polled;
  for (int l = 0; l < 3; ++l) {
    if (lists[l] == nullptr) continue;
    for (TSocketHandle socket : *lists[l]) polled.push_back(pollfd{socket, wanted[l], 0});
  }
  int waitMs = timeoutMs;
  if (timeoutMs == -2) {
    waitMs = -1;
  } else if (timeoutMs < 0) {
    errno = EINVAL;  // a negative time other than "no limit" is no valid wait
    return -1;
  }
  const int result = poll(polled.data(), polled.size(), waitMs);
  if (result < 0) return -1;
  for (const pollfd& entry : polled) {
    if (entry.revents & POLLNVAL) {  // a handle that is not open: the wait as a whole fails
      errno = EBADF;
      return -1;
    }
  }
  int ready = 0;
  std::size_t at = 0;
  for (int l = 0; l < 3; ++l) {
    if (lists[l] == nullptr) continue;
    std::vector<TSocketHandle> kept;
    for (TSocketHandle socket : *lists[l]) {
      if (polled[at++].revents & readyOn[l]) kept.push_back(socket);
    }
    ready += static_cast<int>(kept.size());
    *lists[l] = std::move(kept);
  }
  return ready;
}

std::uint16_t TSocketStack::HostToNet16(std::uint16_t value) { return htons(value); }

std::uint16_t TSocketStack::NetToHost16(std::uint16_t value) { return ntohs(value); }

}  // namespace scoutor
