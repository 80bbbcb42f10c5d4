#pragma once
// The TFTP servers of the simulated devices: each device takes uploads on UDP port 69 of its own
// address and stores them in one directory as <MAC with '-'>.bin (02-00-00-00-00-01.bin),
// written to a temporary file there first. Only write requests in octet mode are taken; a
// device marked busy-first refuses its first one with an access violation. Every accepted
// request gets a TTftpTransfer on a new port, so many uploads run at once. The simulator's
// poll loop polls the descriptors this gives it and calls back in; no threads of its own.
#include <netinet/in.h>
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/vepsim/SimDevice.h"
#include "tools/vepsim/TftpTransfer.h"

namespace scoutor {

class TTftpServer {
 public:
  using TClock = std::chrono::steady_clock;
  // Called when an upload of device `device` (an index given to Listen) is stored in place.
  using TStoredHandler = std::function<void(std::size_t device)>;

  // Each device takes `writeTime` to write a received block before it acknowledges it.
  TTftpServer(std::string directory, std::chrono::microseconds writeTime, bool verbose,
              TStoredHandler onStored);
  ~TTftpServer();
  TTftpServer(const TTftpServer&) = delete;
  TTftpServer& operator=(const TTftpServer&) = delete;

  // Opens port 69 of the device's address; throws std::runtime_error when it cannot. A device
  // whose address another one has already gets no port: that one takes the uploads.
  void Listen(std::size_t device, const TSimDevice& settings);
  // Moves the device's port 69 to `address`; an empty text on success, else why it has no port
  // now. Uploads under way stay where they are.
  std::string Move(std::size_t device, const TIPv4& address);

  // Appends the descriptors to poll for reading; HandleReady takes the same entries back.
  void AddToPoll(std::vector<pollfd>& fds);
  void HandleReady(std::span<const pollfd> entries);
  // When the next transfer's timer runs out; none without transfers.
  std::optional<TClock::time_point> NextDeadline() const;
  void RunDueTimers();

  std::uint64_t Stored() const { return StoredCount; }
  std::uint64_t Refused() const { return RefusedCount; }
  std::uint64_t Abandoned() const { return AbandonedCount; }
  std::uint64_t Failed() const { return FailedCount; }

 private:
  struct TPort {
    int Fd = -1;  // -1 while the device has no port
    TIPv4 Address{};
    std::string Name;  // "AP-1 (00:0A:1B:2C:3D:4E)" for the log
    TMacAddress Mac{};
    bool BusyFirst = false;
    bool RefusedOnce = false;
  };
  struct TActive {
    std::size_t Device = 0;
    std::unique_ptr<TTftpTransfer> Transfer;
  };
  // What an entry of the last AddToPoll is: a device's port 69, or a transfer.
  struct TPolled {
    bool IsPort = false;
    std::size_t Key = 0;  // device index or transfer number
  };

  static int OpenPort(const TIPv4& address, std::string& problem);
  // The open port at `address`, if any.
  const TPort* PortAt(const TIPv4& address) const;
  void ReceiveRequests(std::size_t device);
  void HandleRequest(std::size_t device, TPacketView packet, const sockaddr_in& from);
  void Refuse(const TPort& port, const sockaddr_in& to, std::uint16_t code,
              const std::string& text);
  void Report(std::size_t number, TTftpTransfer::TEvent event);

  std::string Directory;
  std::chrono::microseconds WriteTime;
  bool Verbose = false;
  TStoredHandler OnStored;
  std::map<std::size_t, TPort> Ports;        // by device index
  std::map<std::size_t, TActive> Transfers;  // by transfer number
  std::size_t NextTransfer = 1;
  std::vector<TPolled> LastPolled;
  std::vector<std::uint8_t> Buffer;  // one datagram of any size

  std::uint64_t StoredCount = 0, RefusedCount = 0, AbandonedCount = 0, FailedCount = 0;
};

}  // namespace scoutor
