// The unprivileged ICMP socket's messages as they are rebuilt into raw packets: any control data
// (read only within its length) and any bytes received give a packet that the answer reader
// then judges without reading beyond it. Input: one byte for the control data's length, the
// control data, the rest as the bytes received.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/IcmpPacket.h"
#include "transport/IcmpRebuild.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

void Judge(const std::vector<std::uint8_t>& packet, std::size_t length) {
  Check(length <= packet.size());
  const scoutor::TEchoQuestion question{{10, 0, 0, 7}, 0x1234, 0};
  scoutor::ClassifyAnswer(packet.data(), length, question);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t controlLength = std::min<std::size_t>(data[0], size - 1);
  // The control data in a buffer of its own length, aligned as the kernel's is.
  std::vector<cmsghdr> storage(controlLength / sizeof(cmsghdr) + 1);
  std::memcpy(storage.data(), data + 1, controlLength);
  msghdr message{};
  message.msg_control = controlLength > 0 ? storage.data() : nullptr;
  message.msg_controllen = controlLength;
  const scoutor::TIcmpControl control = scoutor::ReadIcmpControl(message);

  const std::uint8_t* received = data + 1 + controlLength;
  const std::size_t receivedLength = size - 1 - controlLength;
  {
    std::vector<std::uint8_t> packet(scoutor::kRebuiltIpHeader + receivedLength);
    std::copy_n(received, receivedLength, packet.begin() + scoutor::kRebuiltIpHeader);
    Judge(packet, scoutor::FrameEchoMessage(packet.data(), receivedLength, control.Ttl, {10, 0, 0, 7}));
  }
  {
    std::vector<std::uint8_t> packet(scoutor::kQueuedErrorFront + receivedLength);
    std::copy_n(received, receivedLength, packet.begin() + scoutor::kQueuedErrorFront);
    const std::size_t length =
        scoutor::FrameQueuedError(packet.data(), receivedLength, control, {10, 0, 0, 7});
    Check(length == 0 || control.IcmpError);
    if (length > 0) Judge(packet, length);
  }
  return 0;
}
