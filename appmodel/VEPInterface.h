#pragma once
// The application's one point of contact with the protocol engine. It registers the engine's
// application callback once, runs discovery scans (five broadcasts 500 ms apart), forwards the
// two configuration requests, and turns engine events into device records for the handler
// slots, log lines, or upgrade progress. Everything runs on the main loop's thread.
#include <cstdint>
#include <functional>
#include <map>
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
  THandlerSlot<TVEPInterface&, int> OnScanProgress;                // step 0 at start, then 1
  THandlerSlot<TVEPInterface&> OnScanDone;

  // Outgoing seams that the windows fill. Log lines default to standard error in debug mode.
  std::function<void(const std::string& line)> LogLine;
  std::function<void(std::uint32_t event, const TVEPProgressEvent& progress)> HandleUpgradeProgress;

  // Every get-IP reply and set-IP acknowledgement also goes, with its kind, to each listener
  // (after OnIPConfig), so that any number of requests can wait at once, each for its own
  // device's reply of its own kind (DeviceRequest.h). A listener may stop itself or others, or
  // start new ones, while it runs; those started then hear the next reply.
  enum class TReplyKind { Settings, Acknowledgement };
  using TReplyListener = std::function<void(TReplyKind kind, const TDeviceInfo& reply)>;
  using TListenerId = std::uint64_t;
  TListenerId ListenForReplies(TReplyListener listener);
  void StopListening(TListenerId id);

  int ScanRepeatsLeft() const { return RepeatsLeft; }
  bool Scanning() const { return RescanTimer.Enabled(); }

  // The application callback registered with the engine.
  static void HandleEngineEvent(std::uint32_t event, void* record);

 private:
  void ScanStep();
  void Dispatch(std::uint32_t event, const void* record);
  void TellListeners(TReplyKind kind, const TDeviceInfo& reply);

  TVEPFunctions Functions;
  TTimer RescanTimer;
  int RepeatsLeft = 0;
  std::map<TListenerId, TReplyListener> Listeners;
  TListenerId NextListenerId = 1;
};

// The one interface object, or nullptr while there is none.
TVEPInterface* CurrentInterface();

}  // namespace scoutor
