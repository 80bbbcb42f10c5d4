#pragma once
// TFTP write client: uploads a file or stream to a TFTP server (a device taking new firmware)
// with one write request carrying the "blksize" option, then data blocks in lock-step with the
// server's acknowledgements. Progress is reported through the work events (write mode): begin
// with the byte count, work with the running total per data block, end on every path.
//
// The first reply to the request fixes the transfer peer (address and port); packets from
// anyone else are ignored after that. The upload succeeds on the acknowledgement of the last
// (short) block, or on silence after it. Errors: the TFTP kinds (by the code of a received error
// packet; "Timeout"; an unusable "blksize"; replies a host firewall drops), socket errors,
// EFOpenError and EReadError.
//
// The server answers from a port of its own, which a host firewall that accepts only what
// belongs to a connection takes for a stranger's. With CAP_NET_RAW the client watches for the
// server's replies below the firewall until the first one reaches its socket
// (DroppedReplyWatch.h); one that never does ends the upload about a second later with a reason
// that names the firewall and what to allow, instead of after its time-outs.
//
// The upload is a state machine driven by an event loop: it advances when the socket is
// readable (a read watcher) and when a single-shot timer of the loop ends a wait; it never
// blocks in a receive. StartUpload runs it on a loop the caller names (the main loop of the
// desktop program) and reports the end through a callback on that loop's thread. Upload and
// UploadStream run the same machine to its end on a private loop that serves only this
// upload's socket and timer, so the caller's thread blocks (up to ReceiveTimeout per wait) and
// nothing but this upload's own work events runs meanwhile.
// Every upload opens a fresh socket (so a fresh local port) and closes it at the end. One
// upload at a time per client.
#include <cstdint>
#include <exception>
#include <functional>
#include <istream>
#include <memory>
#include <string>

#include "runtime/EventLoop.h"
#include "transport/UdpBase.h"

namespace scoutor {

enum TTftpMode { tfNetAscii = 0, tfOctet = 1 };

class TTftpClient : public TUdpBase {
 public:
  // The end of an upload started on a loop: nullptr on success, else what the synchronous
  // forms would have raised. Runs on the loop's thread, after OnWorkEnd.
  using TUploadDone = std::function<void(std::exception_ptr error)>;

  TTftpClient();
  // An upload still running is abandoned: its socket closes, `done` never runs.
  ~TTftpClient() override;

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

  // Start an upload driven by `loop` (its thread is the caller's) and return at once; the work
  // events and then `done` come later on the loop, never inside the call, also when the file
  // cannot be opened (then `done` gets EFOpenError and no work event fires). The stream must
  // outlive the upload. Host and Port are read at the call. Starting while an upload runs
  // (the synchronous forms too) raises std::logic_error.
  void StartUpload(TEventLoop& loop, const std::string& path, const std::string& remoteName,
                   TUploadDone done);
  void StartUploadStream(TEventLoop& loop, std::istream& stream, const std::string& remoteName,
                         TUploadDone done);
  bool Uploading() const { return Transfer != nullptr; }

 private:
  enum class TState {
    AwaitRequestReply,  // the write request is out; an acknowledgement of block 0, an option
                        // acknowledgement or an error answers it and fixes the transfer peer
    AwaitDataAck,       // a full data block is out; its acknowledgement asks for the next
    AwaitLastAck,       // the short (last) data block is out; its acknowledgement ends it
    Finished,
  };
  struct TTransfer;

  void Start(TEventLoop& loop, std::shared_ptr<TTransfer> transfer);
  void Begin();
  void OnReadable();
  void OnWaitOver();
  void Finish(std::exception_ptr error);
  void WatchForDroppedReplies(TTransfer& transfer);
  void OnRepliesDropped(std::uint16_t sourcePort);
  // The next datagram from the transfer peer (from anyone while the peer is not yet fixed)
  // that is already in the socket; false when there is none.
  bool TakeReply(TTransfer& transfer);
  void OnReply(TTransfer& transfer);
  void OnRepeatedReply(TTransfer& transfer);
  void OnSilence(TTransfer& transfer);
  void AcceptOptions(TTransfer& transfer);
  void SendNextBlock(TTransfer& transfer);
  void MakeNextBlock(TTransfer& transfer);
  void SendCurrentPacket(TTransfer& transfer);
  void ResendCurrentPacket(TTransfer& transfer);
  void EndUpload();

  std::shared_ptr<TTransfer> Transfer;  // the upload running, if any
};

}  // namespace scoutor
