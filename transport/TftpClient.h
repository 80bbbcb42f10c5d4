#pragma once
// TFTP write client: uploads a file or stream to a TFTP server (a device taking new firmware)
// with one write request carrying the "blksize" option, then data blocks in lock-step with the
// server's acknowledgements. Progress is reported through the work events (write mode): begin
// with the byte count, work with the running total per data block, end on every path.
//
// The first reply to the request fixes the transfer peer (address and port); packets from
// anyone else are ignored after that. The upload succeeds on the acknowledgement of the last
// (short) block, or on silence after it. Errors: the TFTP kinds (by the code of a received error
// packet; "Timeout"; an unusable "blksize"), socket errors, EFOpenError and EReadError.
//
// An upload runs entirely on the calling thread and blocks it, up to ReceiveTimeout per wait.
// Every upload opens a fresh socket (so a fresh local port) and closes it at the end.
#include <cstdint>
#include <istream>
#include <string>

#include "transport/UdpBase.h"

namespace scoutor {

enum TTftpMode { tfNetAscii = 0, tfOctet = 1 };

class TTftpClient : public TUdpBase {
 public:
  TTftpClient();

  // Host, Port and ReceiveTimeout come from TUdpBase: here Port defaults to 69 and
  // ReceiveTimeout to 4000 ms (the length of one wait for a reply; below 0: no limit).
  TTftpMode TransferMode = tfOctet;  // decides only the mode text; bytes are sent unchanged
  int RequestedBlockSize = 1500;     // asked for with the "blksize" option
  // How often the packet sent last is sent again when a wait ends in silence, before the
  // upload fails with "Timeout" (or, after the last block, ends successfully).
  int Retries = 0;

  // Uploads the file at `path` (opened read-only) under `remoteName`. A file that cannot be
  // opened raises EFOpenError before any packet is sent or any work event fires.
  void Upload(const std::string& path, const std::string& remoteName);
  // Uploads the bytes from the stream's current position to its end.
  void UploadStream(std::istream& stream, const std::string& remoteName);

 private:
  enum class TState {
    AwaitRequestReply,  // the write request is out; an acknowledgement of block 0, an option
                        // acknowledgement or an error answers it and fixes the transfer peer
    AwaitDataAck,       // a full data block is out; its acknowledgement asks for the next
    AwaitLastAck,       // the short (last) data block is out; its acknowledgement ends it
    Finished,
  };
  struct TTransfer;

  // One wait for a reply from the transfer peer (from anyone while the peer is not yet
  // fixed); false when the wait ended in silence.
  bool AwaitReply(TTransfer& transfer);
  void OnReply(TTransfer& transfer);
  void OnRepeatedReply(TTransfer& transfer);
  void OnSilence(TTransfer& transfer);
  void AcceptOptions(TTransfer& transfer);
  void SendNextBlock(TTransfer& transfer);
  void MakeNextBlock(TTransfer& transfer);
  void SendCurrentPacket(TTransfer& transfer);
  void ResendCurrentPacket(TTransfer& transfer);
  void EndUpload();
};

}  // namespace scoutor
