#pragma once
// The devices vepctl lists: the scan that finds them, what changed from one scan to the next
// (watch), and the addresses that several of them answer from.
#include <functional>
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"
#include "tools/vepctl/Options.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

// Finds devices the way the main window does: one scan of five discovery broadcasts 500 ms
// apart (the interface object's StartScan), listening until a wait counted from the scan's
// start is over. Devices are keyed by their ID text; a device's first reply fixes its record,
// later replies (to later broadcasts, or through another interface) change nothing. Main
// thread only.
class TDeviceScan {
 public:
  explicit TDeviceScan(TSession& session) : Session(session) {}

  // Called with every discovery reply, first or not, as it arrives.
  std::function<void(const TDeviceInfo& reply)> OnReply;
  // Called with a device's record when its first reply arrives.
  std::function<void(const TDeviceInfo& device)> OnNewDevice;

  // Scans and listens for `waitMs` from now, or until `enough` holds (checked between
  // events). True when `enough` held.
  bool Run(int waitMs, const std::function<bool()>& enough = {});

  // The devices found, in the order of their first replies.
  const std::vector<TDeviceInfo>& Devices() const { return Found; }
  // The device with this ID text, or nullptr.
  const TDeviceInfo* Find(const std::string& id) const;

 private:
  void Reply(const TDeviceInfo& reply);

  TSession& Session;
  std::vector<TDeviceInfo> Found;
};

// A scan's broadcasts alone take 2 s, so commands that scan again and again (watch, exporter)
// start one at most this often.
constexpr int kShortestScanIntervalSeconds = 3;

// The devices of `devices` that `selection` selects, in their order.
std::vector<TDeviceInfo> SelectedDevices(const std::vector<TDeviceInfo>& devices,
                                         const TScanSelection& selection);

// What changed on the network from one scan to the next, for vepctl watch. A device appears
// when a scan hears it first; it is gone when two scans in a row missed it (one missed scan is
// a lost datagram as often as a device that left); it has changed when its IP address, name,
// type or interface differs from what the last scan that heard it said. A device heard through
// several interfaces keeps the one it was first heard through as long as it is still heard
// there, whichever reply of a scan came first. Plain values, main thread.

// One device as one scan heard it.
struct TSighting {
  TDeviceInfo Device;                   // as the scan's first reply from it gave it
  std::vector<std::string> Interfaces;  // every local interface that a reply of it came through
};

struct TFieldChange {
  std::string Field;  // "ip", "name", "type" or "interface"
  std::string Old;
  std::string New;
};

struct TDeviceEvent {
  enum class TKind { Appeared, Gone, Changed };
  TKind Kind = TKind::Appeared;
  TDeviceInfo Device;                 // as now known; for Gone, as last heard
  std::vector<TFieldChange> Changes;  // for Changed
};

class TDeviceChanges {
 public:
  // Takes one scan's devices; returns the events it brings, in the order of `heard` (appeared
  // and changed) followed by the devices gone, in the order they had appeared.
  std::vector<TDeviceEvent> Update(const std::vector<TSighting>& heard);

 private:
  struct TKnown {
    TDeviceInfo Device;
    int Missed = 0;  // scans in a row that did not hear it
  };

  std::vector<TKnown> Known;  // in the order they appeared
};

// Devices that answer from the same IP address: two devices configured alike, or one address
// handed out twice. They are still two devices (two IDs), but only one of them can be reached
// at that address. Plain functions, any thread.
struct TSharedAddress {
  std::string Address;
  std::vector<std::string> IDs;  // ascending
};

// Every address that more than one of `devices` holds, in the order of the addresses.
std::vector<TSharedAddress> SharedAddresses(const std::vector<TDeviceInfo>& devices);
// True when `address` is one of `shared`.
bool IsShared(const std::vector<TSharedAddress>& shared, const std::string& address);
// "2 devices share IP address 10.0.0.5: 00:0A:1B:2C:3D:4E, 00:0A:1B:2C:3D:50".
std::string SharedAddressText(const TSharedAddress& shared);

}  // namespace scoutor::vepctl
