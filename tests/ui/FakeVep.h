#pragma once
// Recording stand-ins for the exported functions behind TVEPInterface, and engine events
// raised through the callback it registered, so the dialogs run without an engine.
#include <string>
#include <vector>

#include "appmodel/VEPInterface.h"

namespace scoutor {

struct TSentSetIP {
  TVEPNodeID ID;
  std::string Address;
  std::string Mask;
  std::string Gateway;
  bool DHCP;
};

struct TFakeVep {
  static inline TVEPApplicationCallback Callback = nullptr;
  static inline std::vector<TVEPNodeID> GetIPs;
  static inline std::vector<TSentSetIP> SetIPs;

  static void Reset() {
    Callback = nullptr;
    GetIPs.clear();
    SetIPs.clear();
  }

  static TVEPFunctions Functions() {
    return {
        [](TVEPApplicationCallback callback, unsigned char) { Callback = callback; },
        [] {},
        [](const unsigned char* id) { GetIPs.push_back(NodeID(id)); },
        [](const unsigned char* id, const char* address, const char* mask, const char* gateway,
           unsigned char dhcp) { SetIPs.push_back({NodeID(id), address, mask, gateway, dhcp != 0}); },
    };
  }

  static constexpr const char* kDeviceID = "00:0A:1B:2C:3D:4E";

  static void ReplyIPConfig(const char* address, const char* mask, const char* gateway, bool dhcp,
                            const char* id = kDeviceID) {
    TVEPIPConfigEvent event{id, "127.0.0.1", address, mask, gateway,
                            static_cast<unsigned char>(dhcp ? 1 : 0)};
    Callback(vepIPConfig, &event);
  }

  static void AcknowledgeIPSet(const char* id = kDeviceID) {
    TVEPIPSetEvent event{id, "10.1.2.3"};
    Callback(vepIPSet, &event);
  }

  static TVEPNodeID NodeID(const unsigned char* id) {
    TVEPNodeID copy{};
    std::copy(id, id + copy.size(), copy.begin());
    return copy;
  }
};

}  // namespace scoutor
