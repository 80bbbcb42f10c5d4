// Requests as the device simulator receives them: recognised or refused, and every recognised
// request answered with a reply that the engine's decoders read back without a diagnostic.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/VepWire.h"
#include "tools/vepsim/ReplyCodec.h"
#include "tools/vepsim/SimDevice.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

struct TNoDiagnostics : scoutor::TVEPDiagnostics {
  void ReportMessage(const std::string&) override { Check(false); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto request = scoutor::ParseRequest(data, size);
  if (!request) return 0;
  scoutor::TSimDevice device;
  device.Mac = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
  device.Name = "AP-1";
  device.Type = "Bridge";
  device.IPAddress = request->IPAddress;
  const scoutor::TBytes reply = scoutor::EncodeReply(device, *request);
  Check(reply.size() >= sizeof(scoutor::TVEPHeader));
  scoutor::TByteStream stream(reply.data(), reply.size());
  stream.SetPosition(sizeof(scoutor::TVEPHeader));
  TNoDiagnostics diagnostics;
  if (request->Method == scoutor::vmDiscover) {
    scoutor::TDiscoverReply decoded;
    Check(scoutor::DecodeDiscoverReply(stream, decoded, diagnostics));
    Check(decoded.Name == device.Name && decoded.Type == device.Type);
  } else if (request->Method == scoutor::vmGetIP) {
    scoutor::TIPConfigReply decoded;
    Check(scoutor::DecodeIPConfigReply(stream, decoded, diagnostics));
    Check(decoded.IPAddress == scoutor::FormatIPv4(device.IPAddress));
  }
  return 0;
}
