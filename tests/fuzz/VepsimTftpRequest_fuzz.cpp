// Packets as a simulated device's TFTP port receives them: a request or none, and a granted
// block size always within the range a data packet can carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/vepsim/TftpServerPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto request = scoutor::ParseTftpRequest(scoutor::TPacketView(data, size));
  if (!request) return 0;
  if (request->Opcode != scoutor::kTftpReadRequest && request->Opcode != scoutor::kTftpWriteRequest)
    std::abort();
  scoutor::IsOctetMode(*request);
  if (const auto blockSize = scoutor::GrantedBlockSize(*request);
      blockSize &&
      (*blockSize < scoutor::kTftpMinBlockSize || *blockSize > scoutor::kTftpMaxBlockSize))
    std::abort();
  return 0;
}
