#pragma once
// Encoding of the three VEP requests and decoding of the two reply kinds, node IDs and their
// ID text. Pure functions with no state; decoding reports through a TVEPDiagnostics and may
// run on any thread.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Diagnostics.h"
#include "protocol/VepFormat.h"
#include "transport/ByteStream.h"

namespace scoutor {

using TVEPDatagram = std::vector<std::uint8_t>;

// 00 02, the four bytes of `address` (host order: a.b.c.d has `a` as its top byte), 'E', 'x'.
TVEPNodeID MakeHostID(std::uint32_t address);

// Node ID bytes 2-7 as "00:0A:1B:2C:3D:4E" (upper-case hexadecimal); bytes 0-1 play no part.
std::string IDText(const TVEPNodeID& id);
// Reads "%x:%x:%x:%x:%x:%x" (either case) into bytes 2-7, each number's low byte. Bytes 0-1
// always become 00 01; bytes of numbers not read, because the text stopped matching, keep
// their value. A null text reads nothing.
void IDFromText(const char* text, TVEPNodeID& id);

// Destination = DiscoveryID, Source = `hostID`, Fixed1 01 00, Fixed2 C0 01, Flags 01.
// Class and Method are left for the sender.
void FillHeader(TVEPHeader& header, const TVEPNodeID& hostID);

// The 27-byte discovery request.
TVEPDatagram EncodeDiscover(const TVEPNodeID& hostID);
// The 27-byte request for a device's IP settings.
TVEPDatagram EncodeGetIP(const TVEPNodeID& hostID, const TVEPNodeID& device);
// The 40-byte request carrying new IP settings. The texts are converted as inet_addr does (a
// rejected text becomes FF FF FF FF); all three are sent whatever `dhcp` is, and any non-zero
// `dhcp` is sent as 1.
TVEPDatagram EncodeSetIP(const TVEPNodeID& hostID, const TVEPNodeID& device,
                         const std::string& address, const std::string& mask,
                         const std::string& gateway, std::uint8_t dhcp);

// What a discovery reply says; empty until an element sets it.
struct TDiscoverReply {
  std::string Name;
  std::string Type;
};

// What a get-IP reply says. The caller presets IPAddress (to the reply's source address).
struct TIPConfigReply {
  std::string IPAddress;
  std::string SubnetMask;
  std::string DefaultGateway;
  bool DHCP = false;
};

// Decode the elements that follow the header; `data` is positioned just after it. True when
// decoding ran to the end (a single trailing byte is ignored); false after a diagnostic that
// refuses the reply. A later element replaces an earlier one of the same code; an unknown code
// is reported and skipped.
bool DecodeDiscoverReply(TByteStream& data, TDiscoverReply& reply, TVEPDiagnostics& diagnostics);
bool DecodeIPConfigReply(TByteStream& data, TIPConfigReply& reply, TVEPDiagnostics& diagnostics);

}  // namespace scoutor
