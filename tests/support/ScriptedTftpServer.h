#pragma once
// A TFTP server played by a test, one datagram at a time: the test reads what the client sent
// and answers with whatever bytes it likes, from the transfer socket, the request socket or a
// stranger's socket. It covers what real servers will not do on demand (errors, silence,
// odd option acknowledgements, packets from the wrong port or address).
//
// All its sockets are plain UDP sockets on one address (loopback by default, or an address
// inside a test namespace when constructed on a thread in that namespace). It runs on the
// test's thread; the client under test runs on another.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scoutor::test {

class TScriptedTftpServer {
 public:
  using TBytes = std::vector<std::uint8_t>;
  struct TDatagram {
    TBytes Bytes;
    std::string FromIP;
    int FromPort = 0;
  };

  // Opens the request socket and the transfer socket on `address`, ports chosen by the system.
  explicit TScriptedTftpServer(const std::string& address = "127.0.0.1");
  ~TScriptedTftpServer();
  TScriptedTftpServer(const TScriptedTftpServer&) = delete;
  TScriptedTftpServer& operator=(const TScriptedTftpServer&) = delete;

  const std::string& Address() const { return Host; }
  int RequestPort() const { return RequestPortNumber; }
  int TransferPort() const { return TransferPortNumber; }

  // The next datagram on the request socket; its source becomes the client that replies go to.
  // Throws std::runtime_error when none comes within `timeoutMs`.
  TDatagram ExpectRequest(int timeoutMs = 5000);
  // The next datagram on the transfer socket; throws std::runtime_error when none comes.
  TDatagram Expect(int timeoutMs = 5000);
  // True when nothing arrives on the transfer socket within `ms`.
  bool NothingArrives(int ms);

  // Sends `bytes` to the client from the transfer socket.
  void Reply(const TBytes& bytes);
  // Sends `bytes` to the client from the request socket.
  void ReplyFromRequestPort(const TBytes& bytes);
  // Sends `bytes` to the client from a socket of its own bound to `address`:`port` (0: any).
  void ReplyFrom(const std::string& address, int port, const TBytes& bytes);

  // Acknowledges data packets on the transfer socket, starting with `firstBlock`, until one
  // shorter than `blockSize` bytes of data; returns the data in order. Throws
  // std::runtime_error on a packet that is not the expected data block.
  TBytes AcknowledgeAll(std::size_t blockSize, std::uint16_t firstBlock = 1);

  // Packets a server sends.
  static TBytes Ack(std::uint16_t block);
  static TBytes Error(std::uint16_t code, std::string_view text);
  static TBytes OptionAck(std::string_view name, std::string_view value);
  // Reading what the client sent.
  static std::uint16_t Opcode(const TBytes& packet);
  static std::uint16_t Block(const TBytes& packet);
  static TBytes Data(const TBytes& packet);
  static TBytes Of(std::string_view text);

 private:
  TDatagram ReceiveOn(int socket, int timeoutMs, const char* what);
  void SendFrom(int socket, const TBytes& bytes);

  std::string Host;
  int RequestSocket = -1;
  int TransferSocket = -1;
  int RequestPortNumber = 0;
  int TransferPortNumber = 0;
  std::string ClientIP;
  int ClientPort = 0;
  TBytes Buffer = TBytes(65536);  // room for any datagram
};

}  // namespace scoutor::test
