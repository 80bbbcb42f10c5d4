#include "tools/vepsim/TftpTransfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace scoutor {

namespace {

// A silent client gets the last acknowledgement again this often ...
constexpr auto kResendAfter = std::chrono::seconds(1);
// ... and is given up after this long; a stored upload's socket closes then too.
constexpr auto kSilenceLimit = std::chrono::seconds(5);
// Datagrams taken from the socket in one go.
constexpr int kReceiveBatch = 64;

TTftpRefusal DiskRefusal(int error) {
  if (error == ENOSPC || error == EDQUOT)
    return TTftpRefusal(kTftpDiskFull, "Disk full or allocation exceeded");
  return TTftpRefusal(kTftpNotDefined, std::strerror(error));
}

bool SamePeer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

// An error packet's text: from offset 4 up to its zero byte or the packet's end.
std::string ErrorText(TPacketView packet) {
  if (packet.size() <= kTftpHeaderSize) return {};
  const auto begin = packet.begin() + kTftpHeaderSize;
  return std::string(begin, std::find(begin, packet.end(), std::uint8_t{0}));
}

}  // namespace

int OpenDeviceSocket(const TIPv4& address, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  std::memcpy(&local.sin_addr.s_addr, address.data(), 4);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) return fd;
  const int error = errno;
  close(fd);
  errno = error;
  return -1;
}

TTftpTransfer::TTftpTransfer(TTransferSetup setup) : Setup(std::move(setup)) {
  File = open(Setup.TemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (File < 0) throw DiskRefusal(errno);
  Fd = OpenDeviceSocket(Setup.DeviceAddress, 0);
  if (Fd < 0) {
    const int error = errno;
    Discard();
    throw TTftpRefusal(kTftpNotDefined, std::strerror(error));
  }
  LastHeard = TClock::now();
  Answer(Setup.AcknowledgeBlockSize ? BlockSizeAckPacket(Setup.BlockSize) : AckPacket(0));
}

TTftpTransfer::~TTftpTransfer() {
  if (State == TState::Receiving) Discard();
  close(Fd);
}

TTftpTransfer::TEvent TTftpTransfer::OnReadable(std::uint8_t* buffer, std::size_t capacity) {
  for (int n = 0; n < kReceiveBatch && State != TState::Ended; ++n) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t size =
        recvfrom(Fd, buffer, capacity, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) break;
    const TEvent event = OnPacket(TPacketView(buffer, static_cast<std::size_t>(size)), from);
    if (event != TEvent::None) return event;
  }
  return TEvent::None;
}

TTftpTransfer::TEvent TTftpTransfer::OnPacket(TPacketView packet, const sockaddr_in& from) {
  // Another port or host has no business here; the transfer goes on (RFC 1350).
  if (!SamePeer(from, Setup.Client)) {
    SendTo(ErrorPacket(kTftpUnknownTransferID, "Unknown transfer ID"), from);
    return TEvent::None;
  }
  if (packet.size() < kTftpHeaderSize) return TEvent::None;
  switch (TftpOpcodeOf(packet)) {
    case kTftpData:
      return OnData(TftpNumberOf(packet), packet.subspan(kTftpHeaderSize));
    case kTftpError: {
      const bool receiving = State == TState::Receiving;
      if (receiving) Discard();
      State = TState::Ended;
      Why = "the client gave up: " + ErrorText(packet);
      return receiving ? TEvent::Failed : TEvent::None;
    }
    default:
      return TEvent::None;
  }
}

TTftpTransfer::TEvent TTftpTransfer::OnData(std::uint16_t block, TPacketView data) {
  // A repeat of the block acknowledged last: that acknowledgement was lost (unless it is still
  // being written and its acknowledgement is yet to come).
  if (block != Expected) {
    if (Blocks > 0 && block == static_cast<std::uint16_t>(Expected - 1) && !AckDue) {
      LastHeard = TClock::now();
      Resend();
    }
    return TEvent::None;
  }
  if (State != TState::Receiving) return TEvent::None;
  if (data.size() > static_cast<std::size_t>(Setup.BlockSize))
    return Fail(kTftpIllegalOperation, "Block " + std::to_string(block) + " has " +
                                           std::to_string(data.size()) + " bytes, more than " +
                                           std::to_string(Setup.BlockSize));
  for (std::size_t written = 0; written < data.size();) {
    const ssize_t n = write(File, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const TTftpRefusal refusal = DiskRefusal(errno);
      return Fail(refusal.Code, refusal.what());
    }
    written += static_cast<std::size_t>(n);
  }
  Received += data.size();
  ++Blocks;
  LastHeard = TClock::now();
  const bool last = data.size() < static_cast<std::size_t>(Setup.BlockSize);
  if (last) {
    const int closed = close(File);
    File = -1;
    if (closed != 0 || rename(Setup.TemporaryPath.c_str(), Setup.FinalPath.c_str()) != 0) {
      const TTftpRefusal refusal = DiskRefusal(errno);
      return Fail(refusal.Code, refusal.what());
    }
    State = TState::Stored;
  }
  if (Setup.WriteTime.count() > 0) {
    Pending = AckPacket(Expected);
    AckDue = LastHeard + Setup.WriteTime;
  } else {
    Answer(AckPacket(Expected));
  }
  ++Expected;
  return last ? TEvent::Stored : TEvent::None;
}

TTftpTransfer::TEvent TTftpTransfer::OnTimer(TClock::time_point now) {
  if (State == TState::Ended) return TEvent::None;
  if (now - LastHeard >= kSilenceLimit) {
    const bool receiving = State == TState::Receiving;
    if (receiving) Discard();
    State = TState::Ended;
    Why = "the client was silent for " +
          std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kSilenceLimit).count()) +
          " s";
    return receiving ? TEvent::Abandoned : TEvent::None;
  }
  if (AckDue && now >= *AckDue) {
    AckDue.reset();
    Answer(std::move(Pending));
  } else if (State == TState::Receiving && !AckDue && now - LastSentAt >= kResendAfter) {
    Resend();
  }
  return TEvent::None;
}

TTftpTransfer::TClock::time_point TTftpTransfer::Deadline() const {
  if (AckDue) return *AckDue;
  switch (State) {
    case TState::Receiving:
      return std::min(LastSentAt + kResendAfter, LastHeard + kSilenceLimit);
    case TState::Stored:
      return LastHeard + kSilenceLimit;
    case TState::Ended:
      break;
  }
  return TClock::time_point::min();
}

TTftpTransfer::TEvent TTftpTransfer::Fail(std::uint16_t code, const std::string& text) {
  SendTo(ErrorPacket(code, text), Setup.Client);
  Discard();
  State = TState::Ended;
  Why = text;
  return TEvent::Failed;
}

void TTftpTransfer::Discard() {
  if (File >= 0) close(File);
  File = -1;
  unlink(Setup.TemporaryPath.c_str());
}

void TTftpTransfer::Answer(TBytes packet) {
  LastSent = std::move(packet);
  Resend();
}

void TTftpTransfer::Resend() {
  SendTo(LastSent, Setup.Client);
  LastSentAt = TClock::now();
}

// A lost datagram is made good by the resends; a full send buffer counts as one.
void TTftpTransfer::SendTo(const TBytes& packet, const sockaddr_in& to) const {
  sendto(Fd, packet.data(), packet.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
}

}  // namespace scoutor
