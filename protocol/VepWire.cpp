#include "protocol/VepWire.h"

#include <arpa/inet.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "hostnet/FormatIPv4.h"
#include "transport/ByteOrder.h"

namespace scoutor {

namespace {

// An element's value is at most 255 bytes; a value shorter than its field leaves zeros.
using TValue = std::array<std::uint8_t, 256>;

std::string ValueText(const TValue& value, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(value.data()), length);
}

// The first four value bytes, in wire (dotted) order.
std::string ValueAddress(const TValue& value) {
  std::uint32_t networkOrder = 0;
  std::memcpy(&networkOrder, value.data(), sizeof networkOrder);
  return FormatIPv4(networkOrder);
}

TVEPDatagram ToDatagram(const TVEPHeader& header, std::size_t size) {
  TVEPDatagram datagram(size, 0);
  std::memcpy(datagram.data(), &header, sizeof header);
  return datagram;
}

TVEPHeader RequestHeader(const TVEPNodeID& hostID, const TVEPNodeID& destination,
                         TVEPMethod method) {
  TVEPHeader header{};
  FillHeader(header, hostID);
  header.Destination = destination;
  PutBE32(header.Class, kVEPClass);
  PutBE16(header.Method, method);
  return header;
}

// The address field of a set-IP request: inet_addr's result, already in network order.
void PutAddress(std::uint8_t* at, const std::string& text) {
  const in_addr_t address = inet_addr(text.c_str());
  std::memcpy(at, &address, 4);
}

// The element walk both reply kinds share. `apply` takes the code, the value and its length
// and returns false for a code its reply kind does not know.
template <class TApply>
bool DecodeElements(TByteStream& data, const char* shortText, TVEPDiagnostics& diagnostics,
                    TApply apply) {
  TValue value;
  while (data.Remaining() > 1) {
    std::uint8_t code = 0;
    std::uint8_t length = 0;
    data.Read(&code, 1);
    data.Read(&length, 1);
    if (length > data.Remaining()) {
      diagnostics.ReportMessage(shortText);
      return false;
    }
    if (data.Size() >= kReplySizeLimit) {
      diagnostics.ReportMessage("Buffer size is too small");
      return false;
    }
    value.fill(0);
    data.Read(value.data(), length);
    if (!apply(code, value, length)) diagnostics.ReportMessage("Unknown code");
  }
  return true;
}

}  // namespace

TVEPNodeID MakeHostID(std::uint32_t address) {
  TVEPNodeID id{0x00, 0x02, 0, 0, 0, 0, 0x45, 0x78};
  PutBE32(id.data() + 2, address);
  return id;
}

std::string IDText(const TVEPNodeID& id) {
  char text[18];
  std::snprintf(text, sizeof text, "%2.2X:%2.2X:%2.2X:%2.2X:%2.2X:%2.2X", id[2], id[3], id[4],
                id[5], id[6], id[7]);
  return text;
}

void IDFromText(const char* text, TVEPNodeID& id) {
  id[0] = 0x00;
  id[1] = 0x01;
  if (text == nullptr) return;
  unsigned int numbers[6];
  const int read = std::sscanf(text, "%x:%x:%x:%x:%x:%x", &numbers[0], &numbers[1], &numbers[2],
                               &numbers[3], &numbers[4], &numbers[5]);
  for (int i = 0; i < read; ++i) id[2 + i] = static_cast<std::uint8_t>(numbers[i]);
}

void FillHeader(TVEPHeader& header, const TVEPNodeID& hostID) {
  header.Destination = kDiscoveryID;
  header.Source = hostID;
  header.Fixed1[0] = 0x01;
  header.Fixed1[1] = 0x00;
  PutBE16(header.Fixed2, 0xC001);
  header.Flags = kRequestFlag;
}

TVEPDatagram EncodeDiscover(const TVEPNodeID& hostID) {
  return ToDatagram(RequestHeader(hostID, kDiscoveryID, vmDiscover), kHeaderSize);
}

TVEPDatagram EncodeGetIP(const TVEPNodeID& hostID, const TVEPNodeID& device) {
  return ToDatagram(RequestHeader(hostID, device, vmGetIP), kHeaderSize);
}

TVEPDatagram EncodeSetIP(const TVEPNodeID& hostID, const TVEPNodeID& device,
                         const std::string& address, const std::string& mask,
                         const std::string& gateway, std::uint8_t dhcp) {
  TVEPDatagram datagram = ToDatagram(RequestHeader(hostID, device, vmSetIP), kSetIPRequestSize);
  PutAddress(&datagram[27], address);
  PutAddress(&datagram[31], mask);
  PutAddress(&datagram[35], gateway);
  datagram[39] = dhcp != 0 ? 1 : 0;
  return datagram;
}

bool DecodeDiscoverReply(TByteStream& data, TDiscoverReply& reply, TVEPDiagnostics& diagnostics) {
  return DecodeElements(data, "Not enough bytes in stream", diagnostics,
                        [&](std::uint8_t code, const TValue& value, std::size_t length) {
                          switch (code) {
                            case vtName: reply.Name = ValueText(value, length); return true;
                            case vtType: reply.Type = ValueText(value, length); return true;
                            default: return false;
                          }
                        });
}

bool DecodeIPConfigReply(TByteStream& data, TIPConfigReply& reply, TVEPDiagnostics& diagnostics) {
  return DecodeElements(data, "Not enough bytes in the stream", diagnostics,
                        [&](std::uint8_t code, const TValue& value, std::size_t) {
                          switch (code) {
                            case vtDHCP: reply.DHCP = value[0] != 0; return true;
                            case vtIPAddress: reply.IPAddress = ValueAddress(value); return true;
                            case vtSubnetMask: reply.SubnetMask = ValueAddress(value); return true;
                            case vtDefaultGateway:
                              reply.DefaultGateway = ValueAddress(value);
                              return true;
                            default: return false;
                          }
                        });
}

}  // namespace scoutor
