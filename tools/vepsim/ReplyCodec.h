#pragma once
// The device side of the VEP wire format: recognising a request and encoding a device's reply
// to it. Pure functions, usable from any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/VepFormat.h"
#include "tools/vepsim/SimDevice.h"

namespace scoutor {

using TBytes = std::vector<std::uint8_t>;

struct TDeviceRequest {
  TVEPNodeID Destination{};
  TVEPNodeID Source{};  // the host's ID: the reply's destination
  TVEPMethod Method = vmDiscover;
  // vmSetIP only: the new settings.
  TIPv4 IPAddress{};
  TIPv4 SubnetMask{};
  TIPv4 DefaultGateway{};
  bool DHCP = false;
};

// A request the devices answer: at least 27 bytes (40 for vmSetIP), Flags bit 0 set, the VEP
// class and one of its three methods. Anything else (replies, other classes, short or empty
// datagrams) is not a request.
std::optional<TDeviceRequest> ParseRequest(const std::uint8_t* data, std::size_t size);

// The reply of `device` to `request`: the header (Destination = the request's Source, Source =
// the device's node ID, Flags 0, the VEP class and the request's method) followed by vtName and
// vtType for vmDiscover, by vtDHCP, vtIPAddress, vtSubnetMask and vtDefaultGateway for
// vmGetIP, and nothing for vmSetIP.
TBytes EncodeReply(const TSimDevice& device, const TDeviceRequest& request);

// Size of the device's vmDiscover reply.
std::size_t DiscoverReplySize(const TSimDevice& device);

}  // namespace scoutor
