// Reply elements after the header, through both reply decoders. Whatever the bytes, decoding
// ends, reads nothing beyond the datagram and gives texts no longer than the datagram.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/VepWire.h"

namespace {

struct TCountingDiagnostics : scoutor::TVEPDiagnostics {
  void ReportMessage(const std::string& text) override { Reports += text.empty() ? 0 : 1; }
  int Reports = 0;
};

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = sizeof(scoutor::TVEPHeader);
  TCountingDiagnostics diagnostics;
  {
    scoutor::TByteStream stream(data, size);
    stream.SetPosition(kHeader);
    scoutor::TDiscoverReply reply;
    scoutor::DecodeDiscoverReply(stream, reply, diagnostics);
    Check(stream.Position() <= size);
    Check(reply.Name.size() + reply.Type.size() <= size);
  }
  {
    scoutor::TByteStream stream(data, size);
    stream.SetPosition(kHeader);
    scoutor::TIPConfigReply reply;
    reply.IPAddress = "10.0.0.7";
    scoutor::DecodeIPConfigReply(stream, reply, diagnostics);
    Check(stream.Position() <= size);
    // Addresses are always dotted texts of four numbers.
    for (const std::string* text : {&reply.IPAddress, &reply.SubnetMask, &reply.DefaultGateway})
      Check(text->size() <= 15);
  }
  return 0;
}
