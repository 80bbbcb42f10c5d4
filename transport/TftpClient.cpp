#include "transport/TftpClient.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "runtime/DescriptorWatch.h"
#include "runtime/HeadlessLoop.h"
#include "runtime/SingleShot.h"
#include "transport/ByteOrder.h"
#include "transport/DroppedReplyWatch.h"
#include "transport/FileErrors.h"
#include "transport/SocketErrors.h"
#include "transport/SocketStack.h"
#include "transport/TftpErrors.h"
#include "transport/TftpPacket.h"

namespace scoutor {

namespace {

// The header beside the block sizes, which are ints.
constexpr int kHeaderBytes = static_cast<int>(kTftpHeaderSize);

// Datagrams looked at per readiness report before the loop gets its thread back: a flood of
// strangers' packets cannot hold it, and the watcher reports the rest next time round.
constexpr int kDatagramsPerWake = 16;
constexpr std::size_t kFileReadAhead = 256 * 1024;  // few, large reads of the file

// --- the socket, once the transfer peer is known ---
// The socket is connected to the transfer peer, so data packets go straight through it: no
// name look-up, address text, allocation or route look-up per packet, and the kernel itself
// keeps other hosts' packets away.

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

void ConnectTo(TSocketHandle socket, const sockaddr_in& peer) {
  TSocketStack::CheckResult(connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer));
}

// The kernel reports an ICMP error (a port unreachable: no TFTP server there) to a socket that
// is not connected only when asked to; the next receive then fails with it ("Connection
// refused") instead of the upload waiting out its time-outs. Set before the request goes, as
// on loopback the error can come before the send returns.
void ReportIcmpErrors(TSocketHandle socket) {
  const int on = 1;
  TSocketStack::CheckResult(setsockopt(socket, IPPROTO_IP, IP_RECVERR, &on, sizeof on));
}

bool FromAddress(const sockaddr_in& source, const TAddressBytes& address) {
  return std::memcmp(&source.sin_addr.s_addr, address.data(), address.size()) == 0;
}

void SendToPeer(TSocketHandle socket, const TBytes& packet) {
  const long sent = send(socket, packet.data(), packet.size(), 0);
  if (sent == -1 && TSocketStack::CheckResult(-1, {EMSGSIZE})) throw EIdPackageSizeTooBig();
  if (static_cast<std::size_t>(sent) != packet.size()) throw EIdNotAllBytesSent();
}

// One datagram that is already waiting into `buffer` (cut to its size), without waiting for
// one; -1 when none is there (or a signal came first).
long ReceiveWaiting(TSocketHandle socket, TBytes& buffer, sockaddr_in& source) {
  socklen_t length = sizeof source;
  const long received = recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&source), &length);
  if (received == -1) TSocketStack::CheckResult(-1, {EAGAIN, EWOULDBLOCK, EINTR});
  return received;
}

// --- streams ---

std::int64_t BytesLeftIn(std::istream& stream) {
  const std::istream::pos_type start = stream.tellg();
  if (start == std::istream::pos_type(-1)) throw EReadError();
  stream.seekg(0, std::ios::end);
  const std::istream::pos_type end = stream.tellg();
  stream.seekg(start);
  if (end == std::istream::pos_type(-1) || !stream) throw EReadError();
  return static_cast<std::int64_t>(end - start);
}

// Drives an upload that `start` starts on `loop` to its end on the calling thread, then raises
// its error, if any.
void RunToEnd(THeadlessLoop& loop, const std::function<void(TTftpClient::TUploadDone)>& start) {
  bool ended = false;
  std::exception_ptr outcome;
  start([&](std::exception_ptr error) {
    outcome = error;
    ended = true;
  });
  loop.RunUntil([&] { return ended; }, -1);
  if (outcome) std::rethrow_exception(outcome);
}

}  // namespace

// The state of one upload, from its start until its end has been reported.
struct TTftpClient::TTransfer {
  TEventLoop* Loop = nullptr;
  TUploadDone Done;
  std::string ServerHost;  // Host and Port as they were at the start
  int ServerPort = 0;
  std::string ServerAddress;  // the host's address, looked up once
  TAddressBytes ServerBytes{};
  std::string RemoteName;
  std::vector<char> ReadAhead;   // the buffer of File
  std::ifstream File;            // when the client opened the file itself
  std::exception_ptr OpenError;  // the file could not be opened: reported without any work
  std::istream* Source = nullptr;
  bool WorkBegun = false;
  std::int64_t Remaining = 0;  // stream bytes not yet put into a data packet
  TState State = TState::AwaitRequestReply;
  TBytes Packet;      // the packet sent last, sent again on demand
  TBytes NextPacket;  // the next data packet, made while the last one is on its way
  bool NextReady = false;
  std::uint16_t Block = 0;  // block number of the packet sent last; 0 for the request
  int ResendsLeft = 0;      // resends still allowed after silence, for the packet sent last
  int ExtraCopies = 0;      // how often the packet sent last has been sent again
  int EchoesExpected = 0;   // replies still to come to the extra copies of the packet before
  sockaddr_in Peer{};       // the transfer peer, fixed by the first reply
  TBytes ReplyBuffer;
  std::size_t ReplySize = 0;
  sockaddr_in ReplySource{};
  // Declared last, so that they stop before anything they call on goes.
  std::unique_ptr<TDroppedReplyWatch> DropWatch;  // until the server's first reply arrives
  TDescriptorWatch Readable;  // the socket, while replies are awaited
  TSingleShot WaitOver;       // the end of the current wait for a reply

  TPacketView Reply() const { return TPacketView(ReplyBuffer.data(), ReplySize); }
};

TTftpClient::TTftpClient() {
  Port = 69;
  ReceiveTimeout = 4000;
}

TTftpClient::~TTftpClient() {
  Transfer.reset();
}

void TTftpClient::Upload(const std::string& path, const std::string& remoteName) {
  THeadlessLoop privateLoop;  // serves this upload's socket and timer, nothing else
  RunToEnd(privateLoop,
           [&](TUploadDone done) { StartUpload(privateLoop, path, remoteName, std::move(done)); });
}

void TTftpClient::UploadStream(std::istream& stream, const std::string& remoteName) {
  THeadlessLoop privateLoop;
  RunToEnd(privateLoop, [&](TUploadDone done) {
    StartUploadStream(privateLoop, stream, remoteName, std::move(done));
  });
}

void TTftpClient::StartUpload(TEventLoop& loop, const std::string& path,
                              const std::string& remoteName, TUploadDone done) {
  auto transfer = std::make_shared<TTransfer>();
  transfer->ReadAhead.resize(kFileReadAhead);
  transfer->File.rdbuf()->pubsetbuf(transfer->ReadAhead.data(),
                                    static_cast<std::streamsize>(transfer->ReadAhead.size()));
  transfer->File.open(path, std::ios::in | std::ios::binary);
  std::error_code ignored;
  if (!transfer->File.is_open() || std::filesystem::is_directory(path, ignored))
    transfer->OpenError = std::make_exception_ptr(EFOpenError(path));
  transfer->Source = &transfer->File;
  transfer->RemoteName = remoteName;
  transfer->Done = std::move(done);
  Start(loop, std::move(transfer));
}

void TTftpClient::StartUploadStream(TEventLoop& loop, std::istream& stream,
                                    const std::string& remoteName, TUploadDone done) {
  auto transfer = std::make_shared<TTransfer>();
  transfer->Source = &stream;
  transfer->RemoteName = remoteName;
  transfer->Done = std::move(done);
  Start(loop, std::move(transfer));
}

// The upload begins in a step of its own on the loop, so that not even an early failure
// reports its end inside the start call.
void TTftpClient::Start(TEventLoop& loop, std::shared_ptr<TTransfer> transfer) {
  if (Transfer) throw std::logic_error("An upload is already running");
  transfer->Loop = &loop;
  transfer->ServerHost = Host;
  transfer->ServerPort = Port;
  Transfer = transfer;
  // A client destroyed before the step runs has dropped the transfer: the step finds it gone.
  loop.Post([this, started = std::weak_ptr<TTransfer>(transfer)] {
    if (!started.expired()) Begin();
  });
}

void TTftpClient::Begin() {
  TTransfer& transfer = *Transfer;
  try {
    if (transfer.OpenError) std::rethrow_exception(transfer.OpenError);
    transfer.Remaining = BytesLeftIn(*transfer.Source);
  } catch (...) {
    Finish(std::current_exception());  // before any work: no work events
    return;
  }
  try {
    transfer.WorkBegun = true;
    BeginWork(TWorkMode::Write, transfer.Remaining);
    BufferSize = kTftpDefaultBlockSize + kHeaderBytes;
    transfer.Packet = WriteRequest(transfer.RemoteName, TransferMode == tfNetAscii ? "netascii" : "octet",
                                   RequestedBlockSize);
    transfer.State = TState::AwaitRequestReply;
    transfer.ResendsLeft = Retries;
    transfer.ServerAddress = TSocketStack::LookupAddress(transfer.ServerHost);
    transfer.ServerBytes = TSocketStack::TextToAddress(transfer.ServerAddress);
    WatchForDroppedReplies(transfer);
    SendCurrentPacket(transfer);
    transfer.Readable.Start(*transfer.Loop, GetSocket().Handle(), TWatchKind::Read,
                            [this] { OnReadable(); });
  } catch (...) {
    Finish(std::current_exception());
  }
}

// One reply per readiness report; the watcher reports again while more are waiting.
void TTftpClient::OnReadable() {
  std::exception_ptr error;
  try {
    if (TakeReply(*Transfer)) OnReply(*Transfer);
  } catch (...) {
    error = std::current_exception();
  }
  if (error || Transfer->State == TState::Finished) Finish(error);
}

void TTftpClient::OnWaitOver() {
  std::exception_ptr error;
  try {
    OnSilence(*Transfer);
  } catch (...) {
    error = std::current_exception();
  }
  if (error || Transfer->State == TState::Finished) Finish(error);
}

// Stops watching and waiting, ends the work and closes the socket (when the work had begun),
// then reports the end; the client is idle again by then, so `done` may start the next upload.
void TTftpClient::Finish(std::exception_ptr error) {
  std::shared_ptr<TTransfer> transfer = std::move(Transfer);
  transfer->Readable.Stop();
  transfer->WaitOver.Stop();
  if (transfer->WorkBegun) {
    try {
      EndUpload();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  const TUploadDone done = std::move(transfer->Done);
  transfer.reset();  // closes a file the client opened
  done(error);
}

// The socket is bound before the request goes, so that the watch knows the port the replies
// come to, and hears even the quickest of them.
void TTftpClient::WatchForDroppedReplies(TTransfer& transfer) {
  TSocketBinding& socket = GetSocket();
  socket.BindLocal();
  transfer.DropWatch = TDroppedReplyWatch::Open(
      *transfer.Loop, transfer.ServerAddress, static_cast<std::uint16_t>(socket.Port),
      [this](std::uint16_t sourcePort) { OnRepliesDropped(sourcePort); });
}

void TTftpClient::OnRepliesDropped(std::uint16_t sourcePort) {
  const std::string server = DottedIPv4(Transfer->ServerBytes);
  Finish(std::make_exception_ptr(EIdTFTPException(
      "The host firewall drops the TFTP replies of " + server + " (UDP from its port " +
      std::to_string(sourcePort) + " to port " + std::to_string(GetSocket().Port) +
      " here): allow incoming UDP from " + server +
      ", or enable the firewall's TFTP connection tracking")));
}

// Once the transfer peer is fixed, datagrams from any other address or port are ignored
// without extending the wait, so that no other host can end or divert the upload; empty
// datagrams are no TFTP packets and are ignored as well.
bool TTftpClient::TakeReply(TTransfer& transfer) {
  const bool peerFixed = transfer.State != TState::AwaitRequestReply;
  transfer.ReplyBuffer.resize(static_cast<std::size_t>(BufferSize));
  const TSocketHandle socket = GetSocket().Handle();
  for (int looked = 0; looked < kDatagramsPerWake; ++looked) {
    const long received = ReceiveWaiting(socket, transfer.ReplyBuffer, transfer.ReplySource);
    if (received < 0) return false;
    // The server's replies get through: none is dropped on its way.
    if (FromAddress(transfer.ReplySource, transfer.ServerBytes)) transfer.DropWatch.reset();
    if (received == 0) continue;
    if (peerFixed && !SameEndpoint(transfer.ReplySource, transfer.Peer)) continue;
    transfer.ReplySize = static_cast<std::size_t>(received);
    return true;
  }
  return false;
}

void TTftpClient::OnReply(TTransfer& transfer) {
  const TPacketView reply = transfer.Reply();
  if (IsErrorPacket(reply)) RaiseErrorPacket(reply);
  switch (transfer.State) {
    case TState::AwaitRequestReply:
      // Only an answer to the request fixes the peer; anything else is waited past.
      if (IsAckOf(reply, 0) || IsOptionAck(reply)) {
        transfer.Peer = transfer.ReplySource;
        ConnectTo(GetSocket().Handle(), transfer.Peer);
        if (IsOptionAck(reply)) AcceptOptions(transfer);
        SendNextBlock(transfer);
      }
      break;
    case TState::AwaitDataAck:
      if (IsAckOf(reply, transfer.Block)) {
        SendNextBlock(transfer);
      } else {
        OnRepeatedReply(transfer);
      }
      break;
    case TState::AwaitLastAck:
      // Only the acknowledgement of the last block itself proves it arrived.
      if (IsAckOf(reply, transfer.Block)) {
        transfer.State = TState::Finished;
      } else {
        OnRepeatedReply(transfer);
      }
      break;
    case TState::Finished:
      break;
  }
}

// Any other packet from the peer (a repeated acknowledgement, a repeated option
// acknowledgement) asks for the packet sent last once more: the server has waited for it in
// vain. Except for the replies that our own extra copies of the packet before may still draw:
// answering those as well would send every later block twice, for the rest of the transfer.
void TTftpClient::OnRepeatedReply(TTransfer& transfer) {
  if (transfer.EchoesExpected > 0) {
    --transfer.EchoesExpected;  // keep waiting for the rest of the time
  } else {
    ResendCurrentPacket(transfer);
  }
}

// Silence sends the packet sent last again while resends are left. After that, silence after
// the last block counts as success (devices that restart into flashing do not acknowledge it);
// silence before it is a failure.
void TTftpClient::OnSilence(TTransfer& transfer) {
  if (transfer.ResendsLeft > 0) {
    --transfer.ResendsLeft;
    ResendCurrentPacket(transfer);
  } else if (transfer.State == TState::AwaitLastAck) {
    transfer.State = TState::Finished;
  } else {
    throw EIdTFTPException("Timeout");
  }
}

// An option acknowledgement without "blksize" leaves the default block size.
void TTftpClient::AcceptOptions(TTransfer& transfer) {
  if (const auto blockSize = OptionValue(transfer.Reply(), "blksize"))
    BufferSize = AcceptedBlockSize(*blockSize) + kHeaderBytes;
}

// Sends the next data packet (made beforehand where possible). A packet shorter than the block
// size (possibly empty) is the last; block numbers run 1..65535, 0, 1, ... The progress report
// and the making of the following packet happen while this one is on its way.
void TTftpClient::SendNextBlock(TTransfer& transfer) {
  if (!transfer.NextReady) MakeNextBlock(transfer);
  std::swap(transfer.Packet, transfer.NextPacket);
  transfer.NextReady = false;
  ++transfer.Block;
  const std::int64_t length = static_cast<std::int64_t>(transfer.Packet.size()) - kHeaderBytes;
  transfer.State = length < BufferSize - kHeaderBytes ? TState::AwaitLastAck : TState::AwaitDataAck;
  transfer.ResendsLeft = Retries;
  transfer.EchoesExpected = transfer.ExtraCopies;
  transfer.ExtraCopies = 0;
  SendCurrentPacket(transfer);
  DoWork(TWorkMode::Write, length);
  if (transfer.State == TState::AwaitDataAck) MakeNextBlock(transfer);
}

// Puts the next bytes of the stream into the next data packet (block number one on).
void TTftpClient::MakeNextBlock(TTransfer& transfer) {
  const std::int64_t length = std::min<std::int64_t>(BufferSize - kHeaderBytes, transfer.Remaining);
  std::uint8_t* data =
      MakeDataPacket(transfer.NextPacket, static_cast<std::uint16_t>(transfer.Block + 1),
                     static_cast<std::size_t>(length));
  if (length > 0 && !transfer.Source->read(reinterpret_cast<char*>(data), length))
    throw EReadError();
  transfer.Remaining -= length;
  transfer.NextReady = true;
}

void TTftpClient::ResendCurrentPacket(TTransfer& transfer) {
  ++transfer.ExtraCopies;
  SendCurrentPacket(transfer);
}

// The request goes to the server's request port; everything after it to the transfer peer.
// Each send starts a new wait of ReceiveTimeout (below 0: a wait without limit).
void TTftpClient::SendCurrentPacket(TTransfer& transfer) {
  const TBytes& packet = transfer.Packet;
  if (transfer.State == TState::AwaitRequestReply) {
    ReportIcmpErrors(GetSocket().Handle());
    SendDatagram(transfer.ServerAddress, transfer.ServerPort, packet.data(), packet.size());
  } else {
    SendToPeer(GetSocket().Handle(), packet);
  }
  if (ReceiveTimeout >= 0)
    transfer.WaitOver.Start(*transfer.Loop, ReceiveTimeout, [this] { OnWaitOver(); });
}

// Ends the work and closes the socket, on success and failure alike (the socket also when a
// work-end handler raises), so that the next upload starts from a fresh local port.
void TTftpClient::EndUpload() {
  struct TCloser {
    TTftpClient& Client;
    ~TCloser() { Client.SetActive(false); }
  } closer{*this};
  EndWork(TWorkMode::Write);
}

}  // namespace scoutor
