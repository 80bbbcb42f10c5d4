#include "appmodel/DeviceRequest.h"

#include "protocol/VepWire.h"

namespace scoutor {

namespace {

TVEPNodeID NodeID(const std::string& deviceID) {
  TVEPNodeID id{};
  IDFromText(deviceID.c_str(), id);
  return id;
}

}  // namespace

TDeviceRequest::TDeviceRequest(TVEPInterface& vep, TEventLoop& loop) : Vep(vep), Loop(loop) {}

TDeviceRequest::~TDeviceRequest() { Stop(); }

void TDeviceRequest::GetIP(const std::string& deviceID, int timeoutMs) {
  const TVEPNodeID id = NodeID(deviceID);
  Listen(IDText(id), TVEPInterface::TReplyKind::Settings, timeoutMs);
  Vep.GetIP(id);
}

void TDeviceRequest::SetIP(const std::string& deviceID, const TIPSettings& settings,
                           int timeoutMs) {
  const TVEPNodeID id = NodeID(deviceID);
  const TIPSettings sent = SettingsToSend(settings);
  Listen(IDText(id), TVEPInterface::TReplyKind::Acknowledgement, timeoutMs);
  Vep.SetIP(id, sent.Address, sent.Mask, sent.Gateway, sent.DHCP);
}

// Listening starts before the request leaves: its answer can only come on a later turn of the
// loop, but a handler of this turn must not miss it either.
void TDeviceRequest::Listen(const std::string& expectedID, TVEPInterface::TReplyKind expectedKind,
                            int timeoutMs) {
  Stop();
  Listener = Vep.ListenForReplies(
      [this, expectedID, expectedKind](TVEPInterface::TReplyKind kind, const TDeviceInfo& reply) {
        if (kind == expectedKind && reply.ID == expectedID && OnAnswer) OnAnswer(reply);
      });
  if (timeoutMs > 0)
    Deadline.Start(Loop, timeoutMs, [this] {
      Stop();
      if (OnTimeOut) OnTimeOut();
    });
}

void TDeviceRequest::Stop() {
  Deadline.Stop();
  if (Listener != 0) Vep.StopListening(Listener);
  Listener = 0;
}

}  // namespace scoutor
