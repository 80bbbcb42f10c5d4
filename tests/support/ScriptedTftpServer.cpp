#include "tests/support/ScriptedTftpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace scoutor::test {

namespace {

sockaddr_in SocketAddress(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
    throw std::runtime_error("not an IPv4 address: " + address);
  return sa;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A UDP socket bound to `address`:`port`; `port` receives the bound port.
int BoundSocket(const std::string& address, int& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in sa = SocketAddress(address, port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    Fail("bind " + address + ":" + std::to_string(port));
  }
  socklen_t length = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  port = ntohs(sa.sin_port);
  return fd;
}

void PutBE16(TScriptedTftpServer::TBytes& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value));
}

void PutText(TScriptedTftpServer::TBytes& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

}  // namespace

TScriptedTftpServer::TScriptedTftpServer(const std::string& address) : Host(address) {
  RequestSocket = BoundSocket(address, RequestPortNumber);
  TransferSocket = BoundSocket(address, TransferPortNumber);
}

TScriptedTftpServer::~TScriptedTftpServer() {
  close(RequestSocket);
  close(TransferSocket);
}

TScriptedTftpServer::TDatagram TScriptedTftpServer::ReceiveOn(int socket, int timeoutMs,
                                                              const char* what) {
  pollfd ready{socket, POLLIN, 0};
  const int count = poll(&ready, 1, timeoutMs);
  if (count < 0) Fail("poll");
  if (count == 0)
    throw std::runtime_error(std::string("nothing arrived on the ") + what + " socket within " +
                             std::to_string(timeoutMs) + " ms");
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t received = recvfrom(socket, Buffer.data(), Buffer.size(), 0,
                                    reinterpret_cast<sockaddr*>(&from), &length);
  if (received < 0) Fail("recvfrom");
  TDatagram datagram;
  datagram.Bytes.assign(Buffer.begin(), Buffer.begin() + received);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  datagram.FromIP = text;
  datagram.FromPort = ntohs(from.sin_port);
  return datagram;
}

TScriptedTftpServer::TDatagram TScriptedTftpServer::ExpectRequest(int timeoutMs) {
  TDatagram request = ReceiveOn(RequestSocket, timeoutMs, "request");
  ClientIP = request.FromIP;
  ClientPort = request.FromPort;
  return request;
}

TScriptedTftpServer::TDatagram TScriptedTftpServer::Expect(int timeoutMs) {
  return ReceiveOn(TransferSocket, timeoutMs, "transfer");
}

bool TScriptedTftpServer::NothingArrives(int ms) {
  pollfd ready{TransferSocket, POLLIN, 0};
  return poll(&ready, 1, ms) == 0;
}

void TScriptedTftpServer::SendFrom(int socket, const TBytes& bytes) {
  if (ClientIP.empty()) throw std::runtime_error("no request has arrived yet: nobody to reply to");
  const sockaddr_in to = SocketAddress(ClientIP, ClientPort);
  if (sendto(socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to) != static_cast<ssize_t>(bytes.size()))
    Fail("sendto");
}

void TScriptedTftpServer::Reply(const TBytes& bytes) {
  SendFrom(TransferSocket, bytes);
}

void TScriptedTftpServer::ReplyFromRequestPort(const TBytes& bytes) {
  SendFrom(RequestSocket, bytes);
}

void TScriptedTftpServer::ReplyFrom(const std::string& address, int port, const TBytes& bytes) {
  int boundPort = port;
  const int socket = BoundSocket(address, boundPort);
  try {
    SendFrom(socket, bytes);
  } catch (...) {
    close(socket);
    throw;
  }
  close(socket);
}

TScriptedTftpServer::TBytes TScriptedTftpServer::AcknowledgeAll(std::size_t blockSize,
                                                                std::uint16_t firstBlock) {
  TBytes received;
  std::uint16_t block = firstBlock;
  // Bounded: no test file needs more than a million blocks.
  for (int count = 0; count < (1 << 20); ++count, ++block) {
    const TDatagram packet = Expect();
    if (Opcode(packet.Bytes) != 3 || Block(packet.Bytes) != block)
      throw std::runtime_error("expected data block " + std::to_string(block) + ", got opcode " +
                               std::to_string(Opcode(packet.Bytes)) + " block " +
                               std::to_string(Block(packet.Bytes)));
    const TBytes data = Data(packet.Bytes);
    received.insert(received.end(), data.begin(), data.end());
    Reply(Ack(block));
    if (data.size() < blockSize) return received;
  }
  throw std::runtime_error("the upload did not end within a million blocks");
}

TScriptedTftpServer::TBytes TScriptedTftpServer::Ack(std::uint16_t block) {
  TBytes packet;
  PutBE16(packet, 4);
  PutBE16(packet, block);
  return packet;
}

TScriptedTftpServer::TBytes TScriptedTftpServer::Error(std::uint16_t code, std::string_view text) {
  TBytes packet;
  PutBE16(packet, 5);
  PutBE16(packet, code);
  PutText(packet, text);
  return packet;
}

TScriptedTftpServer::TBytes TScriptedTftpServer::OptionAck(std::string_view name,
                                                           std::string_view value) {
  TBytes packet;
  PutBE16(packet, 6);
  PutText(packet, name);
  PutText(packet, value);
  return packet;
}

std::uint16_t TScriptedTftpServer::Opcode(const TBytes& packet) {
  return packet.size() < 2 ? 0 : static_cast<std::uint16_t>(packet[0] << 8 | packet[1]);
}

std::uint16_t TScriptedTftpServer::Block(const TBytes& packet) {
  return packet.size() < 4 ? 0 : static_cast<std::uint16_t>(packet[2] << 8 | packet[3]);
}

TScriptedTftpServer::TBytes TScriptedTftpServer::Data(const TBytes& packet) {
  return packet.size() < 4 ? TBytes{} : TBytes(packet.begin() + 4, packet.end());
}

TScriptedTftpServer::TBytes TScriptedTftpServer::Of(std::string_view text) {
  return TBytes(text.begin(), text.end());
}

}  // namespace scoutor::test
