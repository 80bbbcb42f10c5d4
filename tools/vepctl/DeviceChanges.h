#pragma once
// What changed on the network from one scan to the next, for vepctl watch. A device appears
// when a scan hears it first; it is gone when two scans in a row missed it (one missed scan is
// a lost datagram as often as a device that left); it has changed when its IP address, name,
// type or interface differs from what the last scan that heard it said. A device heard through
// several interfaces keeps the one it was first heard through as long as it is still heard
// there, whichever reply of a scan came first. Plain values, main thread.
#include <string>
#include <vector>

#include "appmodel/DeviceInfo.h"

namespace scoutor::vepctl {

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

}  // namespace scoutor::vepctl
