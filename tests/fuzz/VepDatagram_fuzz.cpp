// Received VEP datagrams through the engine's whole datagram handling: header checks, decoding
// and event records. The first input byte chooses whether the datagram is addressed to the
// host (its node ID is put in front, so that the decoders are reached) or taken as it is.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "protocol/VEPEngine.h"

namespace {

volatile std::size_t Sink;  // keeps the reads below from being optimised away

// Reads every text of an event record, so that a field that is not a valid string shows.
std::size_t Touch(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

void OnEvent(std::uint32_t event, void* record) {
  std::size_t length = 0;
  switch (event) {
    case vepMessage:
      length += Touch(static_cast<TVEPMessageEvent*>(record)->Text);
      break;
    case vepDeviceFound: {
      const auto& e = *static_cast<TVEPDeviceEvent*>(record);
      length += Touch(e.ID) + Touch(e.Interface) + Touch(e.IPAddress) + Touch(e.Name) + Touch(e.Type);
      break;
    }
    case vepIPConfig: {
      const auto& e = *static_cast<TVEPIPConfigEvent*>(record);
      length += Touch(e.ID) + Touch(e.Interface) + Touch(e.IPAddress) + Touch(e.SubnetMask) +
                Touch(e.DefaultGateway);
      break;
    }
    case vepIPSet: {
      const auto& e = *static_cast<TVEPIPSetEvent*>(record);
      length += Touch(e.ID) + Touch(e.IPAddress);
      break;
    }
    default:
      break;
  }
  Sink = length;
}

scoutor::TVEP& Engine() {
  static const std::unique_ptr<scoutor::TVEP> engine = [] {
    auto made = std::make_unique<scoutor::TVEP>();
    made->SetApplicationCallback(&OnEvent, MessageEventsFlag);
    return made;
  }();
  return *engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  scoutor::TVEP& engine = Engine();
  std::vector<std::uint8_t> datagram;
  if (data[0] & 1) {
    const scoutor::TVEPNodeID& host = engine.HostID();
    datagram.assign(host.begin(), host.end());
  }
  datagram.insert(datagram.end(), data + 1, data + size);
  scoutor::TSocketBinding binding;
  binding.IP = "10.0.0.1";
  binding.RemoteIP = "10.0.0.7";
  binding.RemotePort = 17784;
  scoutor::TByteStream stream(datagram.data(), datagram.size());
  engine.HandleDatagram(engine.Endpoint(), stream, binding);
  return 0;
}
