#pragma once
// One request to one device (get its IP settings, or set them) and the replies that answer it.
// Requests are broadcast and any device may answer anything at any time, so only a reply of
// the addressed device and of the request's own kind counts: a get-IP reply never acknowledges
// a set-IP, a late acknowledgement never passes for settings, another device's reply never
// answers. Any number of requests may wait at once (the IP dialog beside Auto IP, a plan's
// devices). Used by the IP dialog, both Auto IPs, vepctl's get-ip and set-ip and plans.
// Main loop thread only.
#include <functional>
#include <string>

#include "appmodel/IPSettings.h"
#include "appmodel/VEPInterface.h"
#include "runtime/SingleShot.h"

namespace scoutor {

class TDeviceRequest {
 public:
  explicit TDeviceRequest(TVEPInterface& vep, TEventLoop& loop = MainLoop());
  ~TDeviceRequest();  // stops listening
  TDeviceRequest(const TDeviceRequest&) = delete;
  TDeviceRequest& operator=(const TDeviceRequest&) = delete;

  // Sends the request to the device with the ID text `deviceID` ("00:0A:1B:2C:3D:4E"); a
  // request still waiting is replaced. From then on every answer goes to OnAnswer until Stop,
  // or until `timeoutMs` have passed (0: no limit, the caller ends the wait), when OnTimeOut
  // runs once and the request stops listening. SetIP sends SettingsToSend(settings); the
  // caller has checked them (SendingProblem).
  void GetIP(const std::string& deviceID, int timeoutMs);
  void SetIP(const std::string& deviceID, const TIPSettings& settings, int timeoutMs);
  void Stop();
  bool Waiting() const { return Listener != 0; }

  std::function<void(const TDeviceInfo& answer)> OnAnswer;
  std::function<void()> OnTimeOut;

 private:
  void Listen(const std::string& deviceID, TVEPInterface::TReplyKind kind, int timeoutMs);

  TVEPInterface& Vep;
  TEventLoop& Loop;
  TVEPInterface::TListenerId Listener = 0;
  TSingleShot Deadline;
};

}  // namespace scoutor
