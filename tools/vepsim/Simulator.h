#pragma once
// The simulator proper: one UDP socket on port 17784 in the current network namespace that
// answers VEP requests for every emulated device, and with a TFTP directory each device's own
// TFTP port for firmware uploads. Replies wait in a timer queue (delay and jitter) so that one
// device's wait never holds up another's; a single thread runs reception, the queue, the
// uploads and signal handling with poll. A device that stored an upload may stay silent to VEP
// requests for its restart time. SIGTERM and SIGINT end Run.
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tools/vepsim/Malformer.h"
#include "tools/vepsim/Readdresser.h"
#include "tools/vepsim/ReplyCodec.h"
#include "tools/vepsim/SimDevice.h"
#include "tools/vepsim/TftpServer.h"

namespace scoutor {

struct TSimOptions {
  std::string InterfaceName;       // receive only on this interface; empty: on all
  std::string ReaddressInterface;  // re-address this interface on set-IP; empty: don't
  std::string HoldInterface;       // put every device's address on it while running; empty: don't
  std::string TftpDirectory;       // take uploads into it (needs HoldInterface); empty: don't
  double WriteMs = 0;              // each block of an upload takes this long to write
  bool Unicast = false;            // reply to the request's source, not 255.255.255.255
  double DelayMs = 0;
  double JitterMs = 0;  // plus 0..JitterMs, uniform, per reply
  double DropRate = 0;  // share of replies never sent
  std::optional<TMalformedMode> Malformed;
  double MalformedRate = 1;        // share of replies sent malformed
  bool MalformedThenGood = false;  // a malformed reply is followed by the good one
  std::set<TVEPMethod> Ignored;  // requests of these methods are neither answered nor carried out
  bool Verbose = false;
  std::uint64_t Seed = 0;
};

class TSimulator {
 public:
  // Holds the addresses, opens the sockets and blocks SIGTERM and SIGINT for delivery through
  // Run; throws std::runtime_error when that fails.
  TSimulator(std::vector<TSimDevice> devices, TSimOptions options);
  ~TSimulator();
  TSimulator(const TSimulator&) = delete;
  TSimulator& operator=(const TSimulator&) = delete;

  // Serves requests until SIGTERM or SIGINT arrives.
  void Run();

 private:
  using TClock = std::chrono::steady_clock;

  struct TReaddress {
    TIPv4 OldAddress, NewAddress, SubnetMask, DefaultGateway;
  };
  struct TJob {
    std::size_t Device = 0;
    TVEPMethod Method = vmDiscover;
    std::vector<TBytes> Datagrams;  // empty when the reply is dropped
    sockaddr_in Destination{};
    int InterfaceIndex = 0;
    TIPv4 DeviceAddress{};  // reply from here when the interface holds it
    // After a static set-IP, with --readdress or --hold-addresses.
    std::optional<TReaddress> Readdress;
  };
  struct TInterfaceAddresses {
    std::optional<TIPv4> Primary;
    std::set<TIPv4> All;
  };

  void OpenSockets();
  void ReceiveAll();
  void HandleRequest(const TDeviceRequest& request, const sockaddr_in& from, int interfaceIndex);
  void Schedule(std::size_t device, const TDeviceRequest& request, const sockaddr_in& from,
                int interfaceIndex, const TIPv4& deviceAddress,
                std::optional<TReaddress> readdress);
  void RunDueJobs();
  void Send(const TJob& job, const TBytes& datagram);
  // The held address and the TFTP port of a device follow its static set-IP.
  void MoveHeldAddress(std::size_t device, const TReaddress& move);
  void ReleaseHeldAddresses();
  void OnUploadStored(std::size_t device);
  // Whether the device is still restarting after an upload; logged with -v.
  bool Restarting(std::size_t device, TClock::time_point now) const;
  void RefreshAddresses();
  int MillisecondsToNextEvent() const;
  bool Chance(double rate);

  std::vector<TSimDevice> Devices;
  TSimOptions Options;
  std::map<TMacAddress, std::size_t> ByMac;
  std::unique_ptr<TReaddresser> Readdresser;
  std::unique_ptr<TReaddresser> Holder;  // the interface that holds the devices' addresses
  std::map<TIPv4, int> Held;             // what it holds, with the number of devices at each
  std::unique_ptr<TTftpServer> Tftp;
  std::vector<TClock::time_point> SilentUntil;  // by device: restarting until then
  int Socket = -1;
  int Signals = -1;
  std::multimap<TClock::time_point, TJob> Queue;
  std::map<int, TInterfaceAddresses> Addresses;  // by interface index
  std::mt19937_64 Random;

  std::uint64_t Requests = 0, Replies = 0, Dropped = 0, Malformed = 0, SendErrors = 0;
};

}  // namespace scoutor
