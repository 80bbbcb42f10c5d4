// Packets a TFTP server sends back, through every reader the upload uses: whatever the bytes,
// each reader looks only inside the packet, an error packet raises a TFTP error kind with the
// packet's text, and a granted block size is always within 8..65464.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transport/TftpErrors.h"
#include "transport/TftpPacket.h"

namespace {
void Check(bool holds) {
  if (!holds) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A buffer of the packet's own size, so that any read beyond it is caught.
  const std::vector<std::uint8_t> bytes(data, data + size);
  const scoutor::TPacketView packet(bytes.data(), bytes.size());
  scoutor::TftpOpcodeOf(packet);
  for (std::uint16_t block : {0, 1, 65535}) scoutor::IsAckOf(packet, block);
  if (scoutor::IsErrorPacket(packet)) {
    try {
      scoutor::RaiseErrorPacket(packet);
    } catch (const scoutor::EIdTFTPException& error) {
      Check(std::string(error.what()).size() <= size);
    }
  }
  if (scoutor::IsOptionAck(packet)) {
    if (const auto value = scoutor::OptionValue(packet, "blksize")) {
      Check(value->size() <= size);
      try {
        const int blockSize = scoutor::AcceptedBlockSize(*value);
        Check(blockSize >= 8 && blockSize <= 65464);
      } catch (const scoutor::EIdTFTPOptionNegotiationFailed&) {
        // refused: the upload ends with that
      }
    }
  }
  return 0;
}
