#pragma once
// What the main window needs from outside itself: the reachability check and the Auto IP
// chooser of the core, the dialogs it opens and the desktop's URL opener. Start-up wires the
// real ones; the window's tests put fakes in their place.
#include <functional>
#include <string>

#include "hostnet/AddressChooser.h"
#include "hostnet/ReachabilityService.h"

namespace scoutor {

struct TDeviceFormSeams {
  // Starts one reachability check; `done` runs later on the loop's thread unless cancelled.
  std::function<TCheckId(const std::string& address, TCheckDone done)> CheckReachable;
  std::function<void(TCheckId id)> CancelCheck;
  // Starts a choice of a free address in the subnet of `localAddress`; `done` runs later.
  std::function<void(const std::string& localAddress,
                     std::function<void(const TAddressChoice& choice)> done)>
      ChooseAddress;
  // The IP address dialog for the device with this ID text, modal; true when closed with OK.
  std::function<bool(const std::string& deviceID)> ConfigureDevice;
  // The upgrade dialog with its address field filled in, modal.
  std::function<void(const std::string& address)> UpgradeDevice;
  std::function<void()> ShowAbout;
  // Hands a URL to the user's browser and returns at once; `failed` runs later, on the loop's
  // thread, when that did not work.
  std::function<void(const std::string& url, std::function<void()> failed)> OpenUrl;
};

}  // namespace scoutor
