// The exported C functions. Each runs its operation on the one engine, catches every error the
// operation raises and routes its text through the engine's diagnostics, so no error leaves
// the interface. Called before the engine has started, a function does nothing and returns
// its failure value.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "hostnet/AddressChoice.h"
#include "hostnet/Reachability.h"
#include "protocol/StartEngine.h"
#include "protocol/UpgradeOutcome.h"
#include "protocol/VEP.h"
#include "protocol/VepWire.h"
#include "runtime/HeadlessLoop.h"

namespace scoutor {
namespace {

// The main loop of programs that start the engine through VEPStartEngine. Like the engine it
// lives until the process ends: the engine may still hand work to it while exiting.
THeadlessLoop* HeadlessMainLoop = nullptr;

void Report(const std::exception& error) {
  if (EngineInstance) EngineInstance->ReportMessage(error.what());
}

template <class TOperation>
void Guarded(TOperation operation) {
  try {
    operation();
  } catch (const std::exception& error) {
    Report(error);
  }
}

TVEPNodeID NodeID(const unsigned char* bytes) {
  TVEPNodeID id{};
  std::copy(bytes, bytes + id.size(), id.begin());
  return id;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

// Dotted IPv4 texts fit the callers' 16-byte buffers; anything longer is cut, never overrun.
void CopyAddress(const std::string& text, char* out) {
  constexpr std::size_t kAddressBufferSize = 16;
  const std::size_t n = std::min(text.size(), kAddressBufferSize - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace
}  // namespace scoutor

using namespace scoutor;

extern "C" {

VEP_API void VEPSetApplicationCallback(TVEPApplicationCallback callback, unsigned char flags) {
  if (EngineInstance) EngineInstance->SetApplicationCallback(callback, flags);
}

VEP_API void VEPDiscover(void) {
  if (EngineInstance) Guarded([] { EngineInstance->SendDiscover(); });
}

VEP_API void VEPGetIP(const unsigned char* deviceID) {
  if (EngineInstance && deviceID != nullptr)
    Guarded([&] { EngineInstance->SendGetIP(NodeID(deviceID)); });
}

VEP_API void VEPSetIP(const unsigned char* deviceID, const char* address, const char* mask,
                      const char* gateway, unsigned char dhcp) {
  if (EngineInstance && deviceID != nullptr)
    Guarded([&] {
      EngineInstance->SendSetIP(NodeID(deviceID), Text(address), Text(mask), Text(gateway), dhcp);
    });
}

VEP_API void VEPMacToID(const char* idText, unsigned char* idOut) {
  if (idOut == nullptr) return;
  Guarded([&] {
    TVEPNodeID id = NodeID(idOut);  // bytes the text does not reach keep their value
    IDFromText(idText, id);
    std::copy(id.begin(), id.end(), idOut);
  });
}

VEP_API int32_t VEPUpgradeDevice(const char* fileName, const char* deviceAddress) {
  if (!EngineInstance) return static_cast<int32_t>(TUpgradeResult::OtherFailure);
  return EngineInstance->UpgradeDevice(Text(fileName), Text(deviceAddress));
}

VEP_API unsigned char VEPPingDevice(const char* deviceAddress) {
  try {
    return PingAddress(Text(deviceAddress)) ? 1 : 0;
  } catch (const std::exception& error) {
    Report(error);
    return 0;
  }
}

VEP_API unsigned char VEPChooseIPAddress(const char* localAddress, char* addressOut,
                                         char* maskOut, char* gatewayOut) {
  if (addressOut == nullptr || maskOut == nullptr || gatewayOut == nullptr) return 0;
  try {
    std::string address, mask, gateway;
    if (!ChooseIPAddress(Text(localAddress), address, mask, gateway)) return 0;
    CopyAddress(address, addressOut);
    CopyAddress(mask, maskOut);
    CopyAddress(gateway, gatewayOut);
    return 1;
  } catch (const std::exception& error) {
    Report(error);
    return 0;
  }
}

VEP_API unsigned char VEPStartEngine(void) {
  if (EngineInstance) return 1;
  if (!HeadlessMainLoop) {
    HeadlessMainLoop = new THeadlessLoop();
    SetMainLoop(HeadlessMainLoop);
  }
  return StartEngine() ? 1 : 0;
}

VEP_API void VEPProcessEvents(unsigned int timeoutMs) {
  if (HeadlessMainLoop) HeadlessMainLoop->RunFor(static_cast<int>(std::min(timeoutMs, 1u << 30)));
}

}  // extern "C"
