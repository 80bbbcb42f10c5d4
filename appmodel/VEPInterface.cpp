#include "appmodel/VEPInterface.h"

#include <cstdio>
#include <utility>

#include "appmodel/DebugMode.h"

namespace scoutor {

namespace {

TVEPInterface* Current = nullptr;

constexpr int kRescanIntervalMs = 500;
constexpr int kRepeatsAfterFirst = 4;

std::string Text(const char* text) { return text != nullptr ? text : ""; }

void LogToStandardError(const std::string& line) {
  if (DebugMode()) std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

TVEPFunctions TVEPFunctions::Exported() {
  return {&VEPSetApplicationCallback, &VEPDiscover, &VEPGetIP, &VEPSetIP};
}

TVEPInterface* CurrentInterface() { return Current; }

TVEPInterface::TVEPInterface(TEventLoop& loop, TVEPFunctions functions)
    : LogLine(LogToStandardError), Functions(functions), RescanTimer(loop) {
  RescanTimer.SetInterval(kRescanIntervalMs);
  RescanTimer.OnTimer = [this] { ScanStep(); };
  // Message boxes are never asked for: this program shows no boxes of the engine's own.
  Functions.SetApplicationCallback(&TVEPInterface::HandleEngineEvent,
                                   DebugMode() ? MessageEventsFlag : 0);
  Current = this;
}

TVEPInterface::~TVEPInterface() {
  RescanTimer.SetEnabled(false);
  if (Current == this) Current = nullptr;
}

void TVEPInterface::StartScan() {
  RepeatsLeft = kRepeatsAfterFirst;
  RescanTimer.SetEnabled(true);
  OnScanProgress(*this, 0);
  Discover();
}

void TVEPInterface::ScanStep() {
  if (RepeatsLeft <= 0) {
    RescanTimer.SetEnabled(false);
    OnScanDone(*this);
    return;
  }
  --RepeatsLeft;
  Discover();
  OnScanProgress(*this, 1);
}

void TVEPInterface::Discover() { Functions.Discover(); }

void TVEPInterface::GetIP(const TVEPNodeID& deviceID) { Functions.GetIP(deviceID.data()); }

void TVEPInterface::SetIP(const TVEPNodeID& deviceID, const std::string& address,
                          const std::string& mask, const std::string& gateway, bool dhcp) {
  Functions.SetIP(deviceID.data(), address.c_str(), mask.c_str(), gateway.c_str(), dhcp ? 1 : 0);
}

TVEPInterface::TListenerId TVEPInterface::ListenForReplies(TReplyListener listener) {
  const TListenerId id = NextListenerId++;
  Listeners.emplace(id, std::move(listener));
  return id;
}

void TVEPInterface::StopListening(TListenerId id) { Listeners.erase(id); }

void TVEPInterface::TellListeners(TReplyKind kind, const TDeviceInfo& reply) {
  // Only the listeners there when the reply came; each looked up again, as an earlier one may
  // have stopped it.
  const TListenerId last = NextListenerId;
  for (auto it = Listeners.begin(); it != Listeners.end() && it->first < last;) {
    const TListenerId id = it->first;
    TReplyListener listener = it->second;  // it may stop itself
    listener(kind, reply);
    it = Listeners.upper_bound(id);
  }
}

void TVEPInterface::HandleEngineEvent(std::uint32_t event, void* record) {
  // After the object is gone no event may reach it.
  if (record != nullptr && Current != nullptr) Current->Dispatch(event, record);
}

void TVEPInterface::Dispatch(std::uint32_t event, const void* record) {
  switch (event) {
    case vepMessage: {
      const auto& message = *static_cast<const TVEPMessageEvent*>(record);
      if (LogLine) LogLine(Text(message.Text));
      break;
    }
    case vepDeviceFound: {
      const auto& found = *static_cast<const TVEPDeviceEvent*>(record);
      TDeviceInfo info;
      info.Name = Text(found.Name);
      info.Type = Text(found.Type);
      info.IPAddress = Text(found.IPAddress);
      info.ID = Text(found.ID);
      info.Interface = Text(found.Interface);
      OnDeviceFound(*this, info);
      break;
    }
    case vepIPConfig: {
      const auto& config = *static_cast<const TVEPIPConfigEvent*>(record);
      TDeviceInfo info;
      info.IPAddress = Text(config.IPAddress);
      info.ID = Text(config.ID);
      info.DHCP = config.DHCP != 0;
      info.SubnetMask = Text(config.SubnetMask);
      info.DefaultGateway = Text(config.DefaultGateway);
      info.Interface = Text(config.Interface);
      OnIPConfig(*this, info);
      TellListeners(TReplyKind::Settings, info);
      break;
    }
    case vepIPSet: {
      const auto& acknowledged = *static_cast<const TVEPIPSetEvent*>(record);
      TDeviceInfo info;
      info.IPAddress = Text(acknowledged.IPAddress);
      info.ID = Text(acknowledged.ID);
      OnIPConfig(*this, info);
      TellListeners(TReplyKind::Acknowledgement, info);
      break;
    }
    case vepUpgradeProgress:
      if (HandleUpgradeProgress)
        HandleUpgradeProgress(event, *static_cast<const TVEPProgressEvent*>(record));
      break;
    default:
      break;
  }
}

}  // namespace scoutor
