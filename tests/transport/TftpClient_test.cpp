// The TFTP write client against a server played by the test: request bytes, block sizes,
// block numbers, progress events, errors, silence, retries and packets from strangers; the
// upload driven by an event loop on a manual clock: waits, the end report, other timers.
#include "transport/TftpClient.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "runtime/Clock.h"
#include "runtime/HeadlessLoop.h"
#include "runtime/Timer.h"
#include "tests/support/ScriptedTftpServer.h"
#include "transport/FileErrors.h"
#include "transport/SocketErrors.h"
#include "transport/TftpErrors.h"

namespace scoutor {
namespace {

using namespace std::string_view_literals;
using Tftp = test::TScriptedTftpServer;
using TBytes = Tftp::TBytes;

// `size` bytes that differ from block to block, so a misplaced block shows.
TBytes Pattern(std::size_t size) {
  TBytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

TBytes Slice(const TBytes& bytes, std::size_t from, std::size_t count) {
  return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// What the upload raised: "<no error>" when it succeeded.
template <class TError>
std::string MessageOf(std::future<void>& upload) {
  try {
    upload.get();
  } catch (const TError& error) {
    return error.what();
  }
  return "<no error>";
}

class TftpClientTest : public ::testing::Test {
 protected:
  TftpClientTest() {
    Client.Host = Server.Address();
    Client.Port = Server.RequestPort();
    // The scripted server answers at once; only the tests about silence shorten the wait.
    Client.ReceiveTimeout = 5000;
    Client.OnWorkBegin = [this](TTransportComponent& sender, TWorkMode mode, std::int64_t total) {
      EXPECT_EQ(&sender, &Client);
      Events.push_back(ModeText(mode) + " begin " + std::to_string(total));
    };
    Client.OnWork = [this](TTransportComponent&, TWorkMode mode, std::int64_t count) {
      Events.push_back(ModeText(mode) + " work " + std::to_string(count));
    };
    Client.OnWorkEnd = [this](TTransportComponent&, TWorkMode mode) {
      Events.push_back(ModeText(mode) + " end");
      SocketOpenAtWorkEnd = Client.Active();
    };
  }

  static std::string ModeText(TWorkMode mode) {
    return mode == TWorkMode::Write ? "write" : "read";
  }

  // Uploads `content` from offset `from` under "/" on another thread; the test plays the
  // server meanwhile and collects the outcome with get().
  std::future<void> StartUpload(const TBytes& content, std::streamoff from = 0) {
    Source.clear();
    Source.str(std::string(content.begin(), content.end()));
    Source.seekg(from);
    return std::async(std::launch::async, [this] { Client.UploadStream(Source, "/"); });
  }

  Tftp Server;
  TTftpClient Client;
  std::istringstream Source;
  std::vector<std::string> Events;
  bool SocketOpenAtWorkEnd = false;
};

// --- the request ---

TEST_F(TftpClientTest, RequestNamesFileModeAndBlockSizeEachEndedByZero) {
  auto upload = StartUpload(Pattern(10));
  const Tftp::TDatagram request = Server.ExpectRequest();
  EXPECT_EQ(request.Bytes, Tftp::Of("\0\2/\0octet\0blksize\0"
                                    "1500\0"sv));
  Server.Reply(Tftp::Error(0, "enough"));
  EXPECT_EQ(MessageOf<EIdTFTPException>(upload), "enough");
}

TEST_F(TftpClientTest, NetAsciiModeAndAnotherBlockSizeShowInTheRequest) {
  Client.TransferMode = tfNetAscii;
  Client.RequestedBlockSize = 512;
  auto upload = StartUpload(Pattern(10));
  EXPECT_EQ(Server.ExpectRequest().Bytes, Tftp::Of("\0\2/\0netascii\0blksize\0"
                                                   "512\0"sv));
  Server.Reply(Tftp::Error(0, "enough"));
  EXPECT_EQ(MessageOf<EIdTFTPException>(upload), "enough");
}

TEST_F(TftpClientTest, DefaultsAreTheDevicesTftpPortOctetAnd1500ByteBlocks) {
  TTftpClient fresh;
  EXPECT_EQ(fresh.Port, 69);
  EXPECT_EQ(fresh.ReceiveTimeout, 4000);
  EXPECT_EQ(fresh.TransferMode, tfOctet);
  EXPECT_EQ(fresh.RequestedBlockSize, 1500);
  EXPECT_EQ(fresh.Retries, 0);
  EXPECT_FALSE(fresh.Active());
}

// --- blocks, block sizes and progress ---

TEST_F(TftpClientTest, ServerIgnoringOptionsGets512And488ByteBlocksForAThousandBytes) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));

  const Tftp::TDatagram first = Server.Expect();
  EXPECT_EQ(Tftp::Opcode(first.Bytes), 3);
  EXPECT_EQ(Tftp::Block(first.Bytes), 1);
  EXPECT_EQ(Tftp::Data(first.Bytes), Slice(file, 0, 512));
  Server.Reply(Tftp::Ack(1));

  const Tftp::TDatagram second = Server.Expect();
  EXPECT_EQ(Tftp::Block(second.Bytes), 2);
  EXPECT_EQ(Tftp::Data(second.Bytes), Slice(file, 512, 488));
  Server.Reply(Tftp::Ack(2));

  upload.get();
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write work 512",
                                              "write work 1000", "write end"}));
  EXPECT_FALSE(Client.Active());
}

TEST_F(TftpClientTest, SecondPacketGoesToThePortTheFirstReplyCameFrom) {
  auto upload = StartUpload(Pattern(100));
  const Tftp::TDatagram request = Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  // Expect() listens on the transfer port only: data sent to the request port would not show.
  const Tftp::TDatagram data = Server.Expect();
  EXPECT_EQ(data.FromPort, request.FromPort);
  EXPECT_EQ(Tftp::Block(data.Bytes), 1);
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, OptionAckOf1500SendsAThousandBytesAsOneBlock) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  const Tftp::TDatagram only = Server.Expect();
  EXPECT_EQ(only.Bytes.size(), 4u + 1000u);
  EXPECT_EQ(Tftp::Block(only.Bytes), 1);
  EXPECT_EQ(Tftp::Data(only.Bytes), file);
  Server.Reply(Tftp::Ack(1));
  upload.get();
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write work 1000", "write end"}));
}

TEST_F(TftpClientTest, GrantedBlockSizeIsUsedWhateverWasAskedFor) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("BlkSize", "300"));
  EXPECT_EQ(Server.AcknowledgeAll(300), file);
  upload.get();
  EXPECT_EQ(Events,
            (std::vector<std::string>{"write begin 1000", "write work 300", "write work 600",
                                      "write work 900", "write work 1000", "write end"}));
}

TEST_F(TftpClientTest, BlockSizeIsFoundAfterOtherAcknowledgedOptions) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(
      Tftp::Of("\0\6tsize\0"
               "1000\0blksize\0"
               "600\0"sv));
  EXPECT_EQ(Server.AcknowledgeAll(600), file);
  upload.get();
}

TEST_F(TftpClientTest, OptionAckWithoutBlockSizeKeeps512ByteBlocks) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("timeout", "3"));
  EXPECT_EQ(Server.AcknowledgeAll(512), file);
  upload.get();
}

TEST_F(TftpClientTest, ExactMultipleOfTheBlockSizeEndsWithAnEmptyBlock) {
  const TBytes file = Pattern(1024);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  for (std::uint16_t block = 1; block <= 2; ++block) {
    const Tftp::TDatagram data = Server.Expect();
    EXPECT_EQ(Tftp::Data(data.Bytes).size(), 512u);
    Server.Reply(Tftp::Ack(block));
  }
  const Tftp::TDatagram last = Server.Expect();
  EXPECT_EQ(last.Bytes, Tftp::Of("\0\3\0\3"sv));
  Server.Reply(Tftp::Ack(3));
  upload.get();
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1024", "write work 512",
                                              "write work 1024", "write work 1024", "write end"}));
}

TEST_F(TftpClientTest, EmptyStreamSendsOneEmptyBlockNumberOne) {
  auto upload = StartUpload({});
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  EXPECT_EQ(Server.Expect().Bytes, Tftp::Of("\0\3\0\1"sv));
  Server.Reply(Tftp::Ack(1));
  upload.get();
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 0", "write work 0", "write end"}));
}

TEST_F(TftpClientTest, StreamIsSentFromItsCurrentPosition) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file, 300);
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  EXPECT_EQ(Server.AcknowledgeAll(1500), Slice(file, 300, 700));
  upload.get();
  EXPECT_EQ(Events.front(), "write begin 700");
}

TEST_F(TftpClientTest, BlockNumbersWrapFrom65535ToZero) {
  // 8-byte blocks make 75,001 blocks of 600,000 bytes: past 65535 the numbers run 0, 1, ...
  const TBytes file = Pattern(600000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "8"));
  EXPECT_EQ(Server.AcknowledgeAll(8), file);  // throws on any block number out of turn
  upload.get();
  EXPECT_EQ(Events.size(), 75001u + 2u);
  EXPECT_EQ(Events[Events.size() - 2], "write work 600000");
}

// --- repeated and lost acknowledgements ---

TEST_F(TftpClientTest, RepeatedAcknowledgementMakesTheClientSendItsBlockAgain) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  const Tftp::TDatagram first = Server.Expect();
  Server.Reply(Tftp::Ack(0));  // as if block 1 had not come
  EXPECT_EQ(Server.Expect().Bytes, first.Bytes);
  Server.Reply(Tftp::Ack(1));
  EXPECT_EQ(Tftp::Block(Server.Expect().Bytes), 2);
  Server.Reply(Tftp::Ack(2));
  upload.get();
  // The repeated block is no new progress.
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write work 512",
                                              "write work 1000", "write end"}));
}

TEST_F(TftpClientTest, ReplyDrawnByOurOwnExtraCopyDoesNotDoubleTheRestOfTheTransfer) {
  const TBytes file = Pattern(2500);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  EXPECT_EQ(Tftp::Block(Server.Expect().Bytes), 1);
  Server.Reply(Tftp::Ack(1));
  const TBytes second = Server.Expect().Bytes;
  Server.Reply(Tftp::Ack(1));  // the server waited in vain for block 2: sent again
  EXPECT_EQ(Server.Expect().Bytes, second);
  // Both copies of block 2 arrived and the server acknowledges each.
  Server.Reply(Tftp::Ack(2));
  const TBytes third = Server.Expect().Bytes;
  EXPECT_EQ(Tftp::Block(third), 3);
  Server.Reply(Tftp::Ack(2));  // drawn by the extra copy: no reason to send block 3 again
  Server.Reply(Tftp::Ack(2));  // the server really waits for block 3
  EXPECT_EQ(Server.Expect().Bytes, third);
  Server.Reply(Tftp::Ack(3));
  // Had the drawn reply been answered too, a second copy of block 3 would come here.
  EXPECT_EQ(Tftp::Block(Server.Expect().Bytes), 4);
  Server.Reply(Tftp::Ack(4));
  EXPECT_EQ(Tftp::Data(Server.Expect().Bytes).size(), 452u);
  Server.Reply(Tftp::Ack(5));
  upload.get();
}

TEST_F(TftpClientTest, RepeatedOptionAckMakesTheClientSendBlockOneAgain) {
  auto upload = StartUpload(Pattern(2000));
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  const Tftp::TDatagram first = Server.Expect();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  EXPECT_EQ(Server.Expect().Bytes, first.Bytes);
  Server.Reply(Tftp::Ack(1));
  EXPECT_EQ(Tftp::Data(Server.Expect().Bytes).size(), 500u);
  Server.Reply(Tftp::Ack(2));
  upload.get();
}

TEST_F(TftpClientTest, AcknowledgementOfAnEarlierBlockDoesNotEndTheUploadAfterTheLastBlock) {
  const TBytes file = Pattern(100);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  const Tftp::TDatagram last = Server.Expect();
  Server.Reply(Tftp::Ack(0));  // the last block was lost on its way
  EXPECT_EQ(Server.Expect().Bytes, last.Bytes);
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, AcknowledgementOfAFutureBlockDoesNotSkipData) {
  const TBytes file = Pattern(1000);
  auto upload = StartUpload(file);
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  const Tftp::TDatagram first = Server.Expect();
  Server.Reply(Tftp::Ack(7));
  EXPECT_EQ(Server.Expect().Bytes, first.Bytes);
  Server.Reply(Tftp::Ack(1));
  EXPECT_EQ(Tftp::Data(Server.Expect().Bytes), Slice(file, 512, 488));
  Server.Reply(Tftp::Ack(2));
  upload.get();
}

// --- error packets ---

TEST_F(TftpClientTest, ErrorCode2RaisesAccessViolationWithExactlyThePacketsText) {
  auto upload = StartUpload(Pattern(1000));
  Server.ExpectRequest();
  Server.Reply(Tftp::Error(2, "Access violation: image locked"));
  EXPECT_EQ(MessageOf<EIdTFTPAccessViolation>(upload), "Access violation: image locked");
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write end"}));
  EXPECT_TRUE(SocketOpenAtWorkEnd);
  EXPECT_FALSE(Client.Active());
}

TEST_F(TftpClientTest, ErrorCode1RaisesFileNotFound) {
  auto upload = StartUpload(Pattern(10));
  Server.ExpectRequest();
  Server.Reply(Tftp::Error(1, "File not found"));
  EXPECT_EQ(MessageOf<EIdTFTPFileNotFound>(upload), "File not found");
}

TEST_F(TftpClientTest, ErrorCode4MidTransferRaisesIllegalOperation) {
  auto upload = StartUpload(Pattern(1000));
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  Server.Expect();
  Server.Reply(Tftp::Error(4, "Illegal TFTP operation"));
  EXPECT_EQ(MessageOf<EIdTFTPIllegalOperation>(upload), "Illegal TFTP operation");
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write work 512", "write end"}));
  EXPECT_FALSE(Client.Active());
}

TEST_F(TftpClientTest, EveryErrorCodeRaisesItsOwnKind) {
  const std::vector<std::pair<std::uint16_t, std::type_index>> kinds = {
      {0, typeid(EIdTFTPException)},
      {1, typeid(EIdTFTPFileNotFound)},
      {2, typeid(EIdTFTPAccessViolation)},
      {3, typeid(EIdTFTPAllocationExceeded)},
      {4, typeid(EIdTFTPIllegalOperation)},
      {5, typeid(EIdTFTPUnknownTransferID)},
      {6, typeid(EIdTFTPFileAlreadyExists)},
      {7, typeid(EIdTFTPNoSuchUser)},
      {8, typeid(EIdTFTPOptionNegotiationFailed)},
      {9, typeid(EIdTFTPException)},
      {65535, typeid(EIdTFTPException)},
  };
  for (const auto& [code, kind] : kinds) {
    SCOPED_TRACE("error code " + std::to_string(code));
    auto upload = StartUpload(Pattern(10));
    Server.ExpectRequest();
    Server.Reply(Tftp::Error(code, "text of " + std::to_string(code)));
    try {
      upload.get();
      ADD_FAILURE() << "the upload succeeded";
    } catch (const EIdTFTPException& error) {
      EXPECT_EQ(std::type_index(typeid(error)), kind);
      EXPECT_EQ(std::string(error.what()), "text of " + std::to_string(code));
    }
  }
}

TEST_F(TftpClientTest, TftpErrorsAreTransportErrors) {
  auto upload = StartUpload(Pattern(10));
  Server.ExpectRequest();
  Server.Reply(Tftp::Error(6, "File already exists"));
  EXPECT_EQ(MessageOf<EIdException>(upload), "File already exists");
}

TEST_F(TftpClientTest, ErrorTextWithoutItsZeroByteIsReadToThePacketsEnd) {
  auto upload = StartUpload(Pattern(10));
  Server.ExpectRequest();
  Server.Reply(Tftp::Of("\0\5\0\2disk full"sv));
  EXPECT_EQ(MessageOf<EIdTFTPAccessViolation>(upload), "disk full");
}

// --- option acknowledgements the client cannot use ---

TEST_F(TftpClientTest, UnusableBlockSizesEndTheUploadWithANegotiationError) {
  for (const std::string_view value : {"abc"sv, ""sv, "0"sv, "7"sv, "65465"sv, "-512"sv, " 512"sv,
                                       "512x"sv, "99999999999999999999"sv}) {
    SCOPED_TRACE("blksize \"" + std::string(value) + "\"");
    Events.clear();
    auto upload = StartUpload(Pattern(1000));
    Server.ExpectRequest();
    Server.Reply(Tftp::OptionAck("blksize", value));
    const std::string message = MessageOf<EIdTFTPOptionNegotiationFailed>(upload);
    EXPECT_NE(message.find("Unusable blksize"), std::string::npos) << message;
    EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write end"}));
    EXPECT_FALSE(Client.Active());
  }
}

TEST_F(TftpClientTest, SmallestAndLargestBlockSizesAreUsable) {
  for (const int size : {8, 65464}) {
    SCOPED_TRACE("blksize " + std::to_string(size));
    const TBytes file = Pattern(static_cast<std::size_t>(size) * 2 + 5);
    auto upload = StartUpload(file);
    Server.ExpectRequest();
    Server.Reply(Tftp::OptionAck("blksize", std::to_string(size)));
    EXPECT_EQ(Server.AcknowledgeAll(static_cast<std::size_t>(size)), file);
    upload.get();
  }
}

// --- packets from anyone but the transfer peer ---

TEST_F(TftpClientTest, ErrorFromAnotherPortIsIgnored) {
  auto upload = StartUpload(Pattern(100));
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  Server.Expect();
  Server.ReplyFrom(Server.Address(), 0, Tftp::Error(2, "go away"));
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, AcknowledgementFromAnotherPortDoesNotEndTheUpload) {
  auto upload = StartUpload(Pattern(100));
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  const TBytes last = Server.Expect().Bytes;
  Server.ReplyFrom(Server.Address(), 0, Tftp::Ack(1));
  // Had the stranger's acknowledgement ended the upload, this would go unanswered.
  Server.Reply(Tftp::Ack(0));
  EXPECT_EQ(Server.Expect().Bytes, last);
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, PacketsFromAnotherAddressWithThePeersPortAreIgnored) {
  auto upload = StartUpload(Pattern(100));
  Server.ExpectRequest();
  Server.Reply(Tftp::Ack(0));
  const TBytes last = Server.Expect().Bytes;
  Server.ReplyFrom("127.0.0.2", Server.TransferPort(), Tftp::Ack(1));
  Server.ReplyFrom("127.0.0.2", Server.TransferPort(), Tftp::Error(1, "no"));
  Server.Reply(Tftp::Ack(0));
  EXPECT_EQ(Server.Expect().Bytes, last);
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, EmptyDatagramIsIgnored) {
  auto upload = StartUpload(Pattern(100));
  Server.ExpectRequest();
  Server.Reply({});
  Server.Reply(Tftp::Ack(0));
  Server.Expect();
  Server.Reply({});
  Server.Reply(Tftp::Ack(1));
  upload.get();
}

TEST_F(TftpClientTest, FirstReplyFromTheRequestPortFixesThatPortAsPeer) {
  auto upload = StartUpload(Pattern(100));
  const Tftp::TDatagram request = Server.ExpectRequest();
  Server.ReplyFromRequestPort(Tftp::Ack(0));
  const Tftp::TDatagram data = Server.ExpectRequest();  // the data comes to the request port
  EXPECT_EQ(Tftp::Block(data.Bytes), 1);
  EXPECT_EQ(data.FromPort, request.FromPort);
  Server.ReplyFromRequestPort(Tftp::Ack(1));
  upload.get();
}

// --- the blocking forms and the main loop ---

TEST_F(TftpClientTest, ABlockingUploadRunsNothingOfTheMainLoopMeanwhile) {
  THeadlessLoop mainLoop;
  TMainLoopScope scope(mainLoop);
  std::vector<std::string> mainLoopWork;
  mainLoop.Post([&] { mainLoopWork.push_back("posted step"); });
  mainLoop.StartSingleShot(0, [&] { mainLoopWork.push_back("timer"); });
  Client.OnWork = [&](TTransportComponent&, TWorkMode, std::int64_t) {
    EXPECT_TRUE(mainLoopWork.empty());
  };
  // The server is played on another thread, the upload blocks the main loop's thread.
  auto server = std::async(std::launch::async, [this] {
    Server.ExpectRequest();
    Server.Reply(Tftp::Ack(0));
    return Server.AcknowledgeAll(512);
  });
  Source.str(std::string(1000, 'x'));
  Client.UploadStream(Source, "/");
  EXPECT_EQ(server.get().size(), 1000u);
  EXPECT_TRUE(mainLoopWork.empty());
  mainLoop.Pump();
  EXPECT_EQ(mainLoopWork, (std::vector<std::string>{"posted step", "timer"}));
}

// --- files ---

class TftpFileTest : public TftpClientTest {
 protected:
  TftpFileTest() {
    char pattern[] = "/tmp/scoutor-tftp-XXXXXX";
    Directory = mkdtemp(pattern);
  }
  ~TftpFileTest() override { std::filesystem::remove_all(Directory); }

  std::string WriteFile(const std::string& name, const TBytes& content) {
    const std::string path = Directory + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path;
  }

  std::string Directory;
};

TEST_F(TftpFileTest, UploadSendsTheFilesBytes) {
  const TBytes file = Pattern(4000);
  const std::string path = WriteFile("firmware.bin", file);
  auto upload = std::async(std::launch::async, [&] { Client.Upload(path, "/"); });
  Server.ExpectRequest();
  Server.Reply(Tftp::OptionAck("blksize", "1500"));
  EXPECT_EQ(Server.AcknowledgeAll(1500), file);
  upload.get();
  EXPECT_EQ(Events.front(), "write begin 4000");
}

TEST_F(TftpFileTest, MissingFileRaisesCannotOpenFileBeforeAnyPacketOrEvent) {
  const std::string path = Directory + "/missing.bin";
  try {
    Client.Upload(path, "/");
    ADD_FAILURE() << "the upload succeeded";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot open file " + path);
  }
  EXPECT_TRUE(Events.empty());
  EXPECT_THROW(Server.ExpectRequest(100), std::runtime_error);
}

TEST_F(TftpFileTest, DirectoryIsNoFileToUpload) {
  EXPECT_THROW(Client.Upload(Directory, "/"), EFOpenError);
  EXPECT_TRUE(Events.empty());
}

TEST_F(TftpFileTest, EveryUploadClosesItsSocketAndTheNextOpensAFreshOne) {
  const std::string path = WriteFile("small.bin", Pattern(10));
  for (int round = 0; round < 2; ++round) {
    auto upload = std::async(std::launch::async, [&] { Client.Upload(path, "/"); });
    const Tftp::TDatagram request = Server.ExpectRequest();
    EXPECT_NE(request.FromPort, 0);
    Server.Reply(Tftp::Ack(0));
    Server.AcknowledgeAll(512);
    upload.get();
    EXPECT_FALSE(Client.Active());
  }
}

// --- the upload on an event loop, with time on a manual clock ---

class TftpLoopTest : public TftpClientTest {
 protected:
  TftpLoopTest() { Client.ReceiveTimeout = 4000; }

  // Starts uploading `content` under "/" on the loop; the first step runs at the next Pump.
  void Start(const TBytes& content) {
    Source.clear();
    Source.str(std::string(content.begin(), content.end()));
    Client.StartUploadStream(Loop, Source, "/", Recorder());
  }
  TTftpClient::TUploadDone Recorder() {
    return [this](std::exception_ptr error) {
      Events.push_back("done");
      Outcome = error;
      ++Ends;
    };
  }
  // Lets the client take what the server has just sent it: waits until it has reached the
  // client's socket, then runs what the loop has ready.
  void Deliver() {
    pollfd ready{Client.GetSocket().Handle(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << "nothing reached the client";
    Loop.Pump();
  }
  // The request is out and answered with an acknowledgement of block 0; returns the first
  // data packet.
  TBytes AnswerTheRequest() {
    Loop.Pump();
    Server.ExpectRequest();
    Server.Reply(Tftp::Ack(0));
    Deliver();
    return Server.Expect().Bytes;
  }
  // How the upload ended: "<running>", "<no error>" or the error's text.
  std::string End() const {
    if (Ends == 0) return "<running>";
    if (!Outcome) return "<no error>";
    try {
      std::rethrow_exception(Outcome);
    } catch (const std::exception& error) {
      return error.what();
    }
  }

  // A client of its own, for the tests that destroy it.
  std::unique_ptr<TTftpClient> ClientOfTheServer() const {
    auto client = std::make_unique<TTftpClient>();
    client->Host = Server.Address();
    client->Port = Server.RequestPort();
    return client;
  }

  TManualClock Clock;
  THeadlessLoop Loop{Clock};
  std::exception_ptr Outcome;
  int Ends = 0;
};

TEST_F(TftpLoopTest, SilenceAfterTheRequestRaisesTimeoutAfterOneWaitOfFourSeconds) {
  Start(Pattern(1000));
  Loop.Pump();
  Server.ExpectRequest();
  Loop.Advance(Clock, 3999);
  EXPECT_EQ(End(), "<running>");
  Loop.Advance(Clock, 1);
  EXPECT_EQ(End(), "Timeout");
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write end", "done"}));
  EXPECT_TRUE(SocketOpenAtWorkEnd);
  EXPECT_FALSE(Client.Active());
  EXPECT_FALSE(Client.Uploading());
  // No resend by default: the request came once.
  EXPECT_THROW(Server.ExpectRequest(100), std::runtime_error);
}

TEST_F(TftpLoopTest, EveryPacketSentStartsANewWait) {
  Start(Pattern(1000));
  Loop.Pump();
  Server.ExpectRequest();
  Loop.Advance(Clock, 3000);
  Server.Reply(Tftp::Ack(0));
  Deliver();
  Server.Expect();
  Loop.Advance(Clock, 3999);
  EXPECT_EQ(End(), "<running>");
  Loop.Advance(Clock, 1);
  EXPECT_EQ(End(), "Timeout");
}

TEST_F(TftpLoopTest, StrangersPacketsDoNotExtendTheWait) {
  Start(Pattern(100));
  AnswerTheRequest();
  Loop.Advance(Clock, 2000);
  // From another port: the socket, connected to the transfer peer, never takes it.
  Server.ReplyFrom(Server.Address(), 0, Tftp::Ack(0));
  Loop.Pump();
  EXPECT_THROW(Server.Expect(100), std::runtime_error);  // nothing sent again for it
  Loop.Advance(Clock, 2000);
  // Silence after the last block: the upload ends at the time its own wait ends.
  EXPECT_EQ(End(), "<no error>");
}

TEST_F(TftpLoopTest, SilenceAfterTheLastBlockCountsAsSuccess) {
  Start(Pattern(100));
  AnswerTheRequest();  // the last block; the device restarts without acknowledging it
  Loop.Advance(Clock, 3999);
  EXPECT_EQ(End(), "<running>");
  Loop.Advance(Clock, 1);
  EXPECT_EQ(End(), "<no error>");
  EXPECT_EQ(Events,
            (std::vector<std::string>{"write begin 100", "write work 100", "write end", "done"}));
  EXPECT_FALSE(Client.Active());
}

TEST_F(TftpLoopTest, RetriesResendTheRequestBeforeTimeout) {
  Client.Retries = 2;
  Start(Pattern(10));
  Loop.Pump();
  const TBytes request = Server.ExpectRequest().Bytes;
  for (int resend = 0; resend < 2; ++resend) {
    Loop.Advance(Clock, 4000);
    EXPECT_EQ(Server.ExpectRequest().Bytes, request);
  }
  EXPECT_EQ(End(), "<running>");
  Loop.Advance(Clock, 4000);
  EXPECT_EQ(End(), "Timeout");
  EXPECT_THROW(Server.ExpectRequest(100), std::runtime_error);
}

TEST_F(TftpLoopTest, RetriesResendALostBlockAndTheTransferGoesOn) {
  Client.Retries = 1;
  const TBytes file = Pattern(1000);
  Start(file);
  const TBytes first = AnswerTheRequest();
  Loop.Advance(Clock, 4000);
  EXPECT_EQ(Server.Expect().Bytes, first);  // no acknowledgement: sent once more
  Server.Reply(Tftp::Ack(1));
  Deliver();
  const TBytes second = Server.Expect().Bytes;
  EXPECT_EQ(Tftp::Data(second), Slice(file, 512, 488));
  Loop.Advance(Clock, 4000);
  EXPECT_EQ(Server.Expect().Bytes, second);  // the resend count starts afresh for each block
  Server.Reply(Tftp::Ack(2));
  Deliver();
  EXPECT_EQ(End(), "<no error>");
}

TEST_F(TftpLoopTest, RetriesResendTheLastBlockBeforeSilenceCountsAsSuccess) {
  Client.Retries = 2;
  Start(Pattern(100));
  const TBytes last = AnswerTheRequest();
  for (int resend = 0; resend < 2; ++resend) {
    Loop.Advance(Clock, 4000);
    EXPECT_EQ(Server.Expect().Bytes, last);
  }
  EXPECT_EQ(End(), "<running>");
  Loop.Advance(Clock, 4000);
  EXPECT_EQ(End(), "<no error>");
}

TEST_F(TftpLoopTest, WorkEventsThenTheEndComeInOrderOnTheLoop) {
  const TBytes file = Pattern(1000);
  Start(file);
  EXPECT_TRUE(Client.Uploading());
  EXPECT_TRUE(Events.empty());  // not even the beginning inside the start call
  AnswerTheRequest();
  Server.Reply(Tftp::Ack(1));
  Deliver();
  EXPECT_EQ(Tftp::Data(Server.Expect().Bytes), Slice(file, 512, 488));
  EXPECT_EQ(End(), "<running>");
  Server.Reply(Tftp::Ack(2));
  Deliver();
  EXPECT_EQ(End(), "<no error>");
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write work 512",
                                              "write work 1000", "write end", "done"}));
  EXPECT_FALSE(Client.Uploading());
  EXPECT_EQ(Loop.WatchCount(), 0u);
  EXPECT_EQ(Loop.TimerCount(), 0u);
}

TEST_F(TftpLoopTest, ErrorPacketEndsWithItsKindAfterTheWorkEnd) {
  Start(Pattern(1000));
  Loop.Pump();
  Server.ExpectRequest();
  Server.Reply(Tftp::Error(2, "Access violation: image locked"));
  Deliver();
  ASSERT_EQ(Ends, 1);
  EXPECT_THROW(std::rethrow_exception(Outcome), EIdTFTPAccessViolation);
  EXPECT_EQ(End(), "Access violation: image locked");
  EXPECT_EQ(Events, (std::vector<std::string>{"write begin 1000", "write end", "done"}));
}

TEST_F(TftpLoopTest, AFileThatCannotBeOpenedEndsLaterWithoutAnyWork) {
  const std::string path = "/nonexistent-scoutor-dir/firmware.bin";
  Client.StartUpload(Loop, path, "/", Recorder());
  EXPECT_EQ(Ends, 0);
  EXPECT_TRUE(Client.Uploading());
  Loop.Pump();
  EXPECT_EQ(End(), "Cannot open file " + path);
  EXPECT_THROW(std::rethrow_exception(Outcome), EFOpenError);
  EXPECT_EQ(Events, std::vector<std::string>{"done"});
  EXPECT_THROW(Server.ExpectRequest(100), std::runtime_error);
}

TEST_F(TftpLoopTest, ASecondStartWhileOneRunsIsRefusedAndTheFirstGoesOn) {
  Start(Pattern(100));
  std::istringstream other("other");
  EXPECT_THROW(Client.StartUploadStream(Loop, other, "/", Recorder()), std::logic_error);
  EXPECT_THROW(Client.UploadStream(other, "/"), std::logic_error);
  AnswerTheRequest();
  Server.Reply(Tftp::Ack(1));
  Deliver();
  EXPECT_EQ(End(), "<no error>");
  EXPECT_EQ(Ends, 1);
}

TEST_F(TftpLoopTest, TheEndReportMayStartTheNextUpload) {
  std::istringstream second(std::string(10, 'x'));
  Source.str("first");
  Client.StartUploadStream(Loop, Source, "/", [&](std::exception_ptr) {
    Events.push_back("first done");
    Client.StartUploadStream(Loop, second, "/", Recorder());
  });
  AnswerTheRequest();
  Server.Reply(Tftp::Ack(1));
  Deliver();
  EXPECT_EQ(AnswerTheRequest(), Tftp::Of("\0\3\0\1xxxxxxxxxx"sv));
  Server.Reply(Tftp::Ack(1));
  Deliver();
  EXPECT_EQ(End(), "<no error>");
  EXPECT_EQ(Events,
            (std::vector<std::string>{"write begin 5", "write work 5", "write end", "first done",
                                      "write begin 10", "write work 10", "write end", "done"}));
}

TEST_F(TftpLoopTest, TheLoopKeepsServingOtherTimersWhileTheUploadWaits) {
  int ticks = 0;
  TTimer poll10ms(Loop);
  poll10ms.SetInterval(10);
  poll10ms.OnTimer = [&] { ++ticks; };
  poll10ms.SetEnabled(true);
  Start(Pattern(100));
  AnswerTheRequest();
  Loop.Advance(Clock, 3990);
  EXPECT_EQ(ticks, 399);
  EXPECT_EQ(End(), "<running>");
  Server.Reply(Tftp::Ack(1));
  Deliver();
  EXPECT_EQ(End(), "<no error>");
}

TEST_F(TftpLoopTest, AClientDestroyedMidUploadLeavesNothingOnTheLoop) {
  auto client = ClientOfTheServer();
  std::istringstream source(std::string(100, 'x'));
  bool ended = false;
  client->StartUploadStream(Loop, source, "/", [&](std::exception_ptr) { ended = true; });
  Loop.Pump();
  Server.ExpectRequest();
  client.reset();
  EXPECT_EQ(Loop.WatchCount(), 0u);
  EXPECT_EQ(Loop.TimerCount(), 0u);
  Loop.Advance(Clock, 10000);
  EXPECT_FALSE(ended);
}

TEST_F(TftpLoopTest, AClientDestroyedBeforeItsFirstStepSendsNothing) {
  auto client = ClientOfTheServer();
  std::istringstream source("x");
  client->StartUploadStream(Loop, source, "/", [](std::exception_ptr) {});
  client.reset();
  Loop.Pump();
  EXPECT_THROW(Server.ExpectRequest(100), std::runtime_error);
}

// --- a host without a TFTP server ---

// A loopback port that nothing listens on: bound once to learn a free one, then closed.
int ClosedLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (probe < 0 || bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no loopback UDP socket");
  close(probe);
  return ntohs(address.sin_port);
}

TEST(TftpClosedPortTest, RequestToAClosedPortFailsWithTheKernelsAnswerNotATimeout) {
  TTftpClient client;
  client.Host = "127.0.0.1";
  client.Port = ClosedLoopbackPort();
  // Far longer than the test may take: only the port-unreachable can end it in time.
  client.ReceiveTimeout = 120000;
  std::istringstream firmware(std::string(100, 'x'));
  try {
    client.UploadStream(firmware, "/");
    FAIL() << "the upload to a closed port succeeded";
  } catch (const EIdSocketError& error) {
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(client.Active());
}

}  // namespace
}  // namespace scoutor
