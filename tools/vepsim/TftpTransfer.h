#pragma once
// One upload to a simulated device, after its write request was accepted: the socket on a new
// port of the device's address that the client talks to from then on, the temporary file the
// blocks go to, and the timers that resend the last acknowledgement to a silent client and give
// up on it. The file is renamed into place when the last (short) block is in; afterwards a
// repeat of that block is still acknowledged until the client has been silent for a while.
// The server (TTftpServer) polls the socket and calls in; all on the simulator's one thread.
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "tools/vepsim/SimDevice.h"
#include "tools/vepsim/TftpServerPackets.h"

namespace scoutor {

// A non-blocking UDP socket bound to `port` (0: a new one) of a device's address; -1 with errno
// set when it cannot be had.
int OpenDeviceSocket(const TIPv4& address, std::uint16_t port);

// A write request that cannot be taken: the error packet's code and text.
class TTftpRefusal : public std::runtime_error {
 public:
  TTftpRefusal(std::uint16_t code, const std::string& text)
      : std::runtime_error(text), Code(code) {}
  std::uint16_t Code;
};

struct TTransferSetup {
  TIPv4 DeviceAddress{};
  sockaddr_in Client{};
  int BlockSize = kTftpDefaultBlockSize;
  bool AcknowledgeBlockSize = false;  // answer with an option acknowledgement, not ACK 0
  // A block is acknowledged this long after it arrived, as a device that writes each block to
  // its flash before it takes the next.
  std::chrono::microseconds WriteTime{0};
  std::string TemporaryPath;
  std::string FinalPath;
};

class TTftpTransfer {
 public:
  using TClock = std::chrono::steady_clock;

  enum class TEvent {
    None,
    Stored,     // the file is in place under its final name
    Failed,     // ended by an error: the client's, or ours sent to it (Problem says which)
    Abandoned,  // the client stayed silent
  };

  // Creates the temporary file and the socket and sends the first answer; throws TTftpRefusal
  // when the file or socket cannot be made.
  explicit TTftpTransfer(TTransferSetup setup);
  ~TTftpTransfer();
  TTftpTransfer(const TTftpTransfer&) = delete;
  TTftpTransfer& operator=(const TTftpTransfer&) = delete;

  int Socket() const { return Fd; }
  // Takes what arrived on the socket; `buffer` is scratch room for one datagram and more.
  TEvent OnReadable(std::uint8_t* buffer, std::size_t capacity);
  // Resends or gives up when the time for it has come.
  TEvent OnTimer(TClock::time_point now);
  TClock::time_point Deadline() const;
  // Whether nothing is left to do: the socket may be closed.
  bool Ended() const { return State == TState::Ended; }

  const sockaddr_in& Client() const { return Setup.Client; }
  std::uint64_t Bytes() const { return Received; }
  const std::string& Path() const { return Setup.FinalPath; }
  const std::string& Problem() const { return Why; }

 private:
  enum class TState { Receiving, Stored, Ended };

  TEvent OnPacket(TPacketView packet, const sockaddr_in& from);
  TEvent OnData(std::uint16_t block, TPacketView data);
  // Sends the error, removes the temporary file and ends.
  TEvent Fail(std::uint16_t code, const std::string& text);
  void Discard();
  // Sends `packet` to the client and keeps it to resend.
  void Answer(TBytes packet);
  void Resend();
  void SendTo(const TBytes& packet, const sockaddr_in& to) const;

  TTransferSetup Setup;
  TState State = TState::Receiving;
  int Fd = -1;
  int File = -1;
  std::uint16_t Expected = 1;  // the block to come; block numbers wrap from 65535 to 0
  std::uint64_t Blocks = 0;
  std::uint64_t Received = 0;
  TBytes LastSent;  // the acknowledgement to repeat
  TBytes Pending;   // the acknowledgement of a block still being written, sent at AckDue
  std::optional<TClock::time_point> AckDue;
  TClock::time_point LastHeard, LastSentAt;
  std::string Why;
};

}  // namespace scoutor
