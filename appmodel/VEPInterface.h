#pragma once
// The application's one point of contact with the protocol engine. It registers the engine's
// application callback once, runs discovery scans (five broadcasts 500 ms apart), forwards the
// two configuration requests, and turns engine events into device records for the handler
// slots, log lines, or upgrade progress. Everything runs on the main loop's thread.
#include <cstdint>
#include <functional>
#include <string>

#include "appmodel/DeviceInfo.h"
#include "appmodel/HandlerSlot.h"
#include "protocol/VEP.h"
#include "protocol/VepFormat.h"
#include "runtime/Timer.h"

namespace scoutor {

// The exported functions the interface object calls; tests put recording fakes in their place.
struct TVEPFunctions {
  void (*SetApplicationCallback)(TVEPApplicationCallback callback, unsigned char flags);
  void (*Discover)();
  void (*GetIP)(const unsigned char* deviceID);
  void (*SetIP)(const unsigned char* deviceID, const char* address, const char* mask,
                const char* gateway, unsigned char dhcp);

  static TVEPFunctions Exported();
};

class TVEPInterface {
 public:
  // Registers the application callback (diagnostic events only in debug mode) and becomes the
  // current interface object.
  explicit TVEPInterface(TEventLoop& loop = MainLoop(),
                         TVEPFunctions functions = TVEPFunctions::Exported());
  ~TVEPInterface();
  TVEPInterface(const TVEPInterface&) = delete;
  TVEPInterface& operator=(const TVEPInterface&) = delete;

  // Five discovery broadcasts: now and at the next four ticks of the 500 ms rescan timer; the
  // fifth tick ends the scan. A scan started while one runs restarts the count, not the timer.
  void StartScan();
  void Discover();
  void GetIP(const TVEPNodeID& deviceID);
  void SetIP(const TVEPNodeID& deviceID, const std::string& address, const std::string& mask,
             const std::string& gateway, bool dhcp);

  THandlerSlot<TVEPInterface&, const TDeviceInfo&> OnDeviceFound;  // vepDeviceFound
  THandlerSlot<TVEPInterface&, const TDeviceInfo&> OnIPConfig;     // vepIPConfig and vepIPSet
  // vepIPSet alone and vepIPConfig alone (each after OnIPConfig), for a caller that must tell
  // a set-IP acknowledgement from a get-IP reply; the windows leave them empty.
  THandlerSlot<TVEPInterface&, const TDeviceInfo&> OnIPSet;
  THandlerSlot<TVEPInterface&, const TDeviceInfo&> OnIPSettings;
  THandlerSlot<TVEPInterface&, int> OnScanProgress;                // step 0 at start, then 1
  THandlerSlot<TVEPInterface&> OnScanDone;

  // Outgoing seams that the windows fill. Log lines default to standard error in debug mode.
  std::function<void(const std::string& line)> LogLine;
  std::function<void(std::uint32_t event, const TVEPProgressEvent& progress)> HandleUpgradeProgress;

  int ScanRepeatsLeft() const { return RepeatsLeft; }
  bool Scanning() const { return RescanTimer.Enabled(); }

  // The application callback registered with the engine.
  static void HandleEngineEvent(std::uint32_t event, void* record);

 private:
  void ScanStep();
  void Dispatch(std::uint32_t event, const void* record);

  TVEPFunctions Functions;
  TTimer RescanTimer;
  int RepeatsLeft = 0;
};

// The one interface object, or nullptr while there is none.
TVEPInterface* CurrentInterface();

}  // namespace scoutor
