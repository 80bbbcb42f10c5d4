#include "tools/vepsim/ReplyCodec.h"

#include <algorithm>
#include <cstring>

#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

constexpr std::size_t kFlagsOffset = offsetof(TVEPHeader, Flags);
constexpr std::size_t kClassOffset = offsetof(TVEPHeader, Class);
constexpr std::size_t kMethodOffset = offsetof(TVEPHeader, Method);

TIPv4 AddressAt(const std::uint8_t* at) {
  return {at[0], at[1], at[2], at[3]};
}

void AppendElement(TBytes& out, TVEPElementCode code, const std::uint8_t* value,
                   std::size_t length) {
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), value, value + length);
}

void AppendText(TBytes& out, TVEPElementCode code, const std::string& text) {
  AppendElement(out, code, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void AppendAddress(TBytes& out, TVEPElementCode code, const TIPv4& address) {
  AppendElement(out, code, address.data(), address.size());
}

}  // namespace

std::optional<TDeviceRequest> ParseRequest(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return std::nullopt;
  if ((data[kFlagsOffset] & kRequestFlag) == 0) return std::nullopt;
  if (GetBE32(data + kClassOffset) != kVEPClass) return std::nullopt;
  const std::uint16_t method = GetBE16(data + kMethodOffset);
  if (method != vmDiscover && method != vmGetIP && method != vmSetIP) return std::nullopt;
  if (method == vmSetIP && size < kSetIPRequestSize) return std::nullopt;

  TDeviceRequest request;
  std::copy_n(data, 8, request.Destination.begin());
  std::copy_n(data + 8, 8, request.Source.begin());
  request.Method = static_cast<TVEPMethod>(method);
  if (method == vmSetIP) {
    request.IPAddress = AddressAt(data + 27);
    request.SubnetMask = AddressAt(data + 31);
    request.DefaultGateway = AddressAt(data + 35);
    request.DHCP = data[39] != 0;
  }
  return request;
}

TBytes EncodeReply(const TSimDevice& device, const TDeviceRequest& request) {
  TBytes out(kHeaderSize, 0);
  const TVEPNodeID source = device.NodeID();
  std::copy(request.Source.begin(), request.Source.end(), out.begin());
  std::copy(source.begin(), source.end(), out.begin() + 8);
  out[16] = 0x01;  // Fixed1
  out[17] = 0x00;
  PutBE16(out.data() + 18, 0xC001);  // Fixed2
  out[kFlagsOffset] = 0;             // a reply
  PutBE32(out.data() + kClassOffset, kVEPClass);
  PutBE16(out.data() + kMethodOffset, request.Method);
  switch (request.Method) {
    case vmDiscover:
      AppendText(out, vtName, device.Name);
      AppendText(out, vtType, device.Type);
      break;
    case vmGetIP: {
      const std::uint8_t dhcp = device.DHCP ? 1 : 0;
      AppendElement(out, vtDHCP, &dhcp, 1);
      AppendAddress(out, vtIPAddress, device.IPAddress);
      AppendAddress(out, vtSubnetMask, device.SubnetMask);
      AppendAddress(out, vtDefaultGateway, device.DefaultGateway);
      break;
    }
    case vmSetIP:
      break;
  }
  return out;
}

std::size_t DiscoverReplySize(const TSimDevice& device) {
  return kHeaderSize + 2 + device.Name.size() + 2 + device.Type.size();
}

}  // namespace scoutor
