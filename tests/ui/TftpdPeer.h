#pragma once
// Debian's tftpd-hpa as the device's TFTP server, in a network namespace of its own linked by
// veth to a namespace for the desktop program's main thread. It takes the image under the
// name "/" and stores it as firmware.bin. Everything is torn down afterwards.
#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/NetnsBed.h"

namespace scoutor::test {

class TTftpdPeer {
 public:
  static constexpr const char* kServerAddress = "10.71.0.1";

  TTftpdPeer() {
    ServerNs = Bed.AddHost("tftpd");
    ClientNs = Bed.AddHost("desktop");
    Bed.Link(ServerNs, "eth0", std::string(kServerAddress) + "/24", ClientNs, "eth0",
             "10.71.0.2/24");
    char pattern[] = "/tmp/scoutor-ui-tftpd-XXXXXX";
    Root = mkdtemp(pattern);
    Served = Root + "/served";
    std::filesystem::create_directory(Served);
    chmod(Served.c_str(), 0777);  // tftpd-hpa runs as "nobody", who creates the file
    std::ofstream(Root + "/map") << "r ^/$ firmware.bin\n";
  }
  ~TTftpdPeer() { std::filesystem::remove_all(Root); }
  TTftpdPeer(const TTftpdPeer&) = delete;
  TTftpdPeer& operator=(const TTftpdPeer&) = delete;

  // Starts the server and waits (at most 5 s) until it listens; false if it does not.
  bool Start() {
    Bed.Spawn(ServerNs,
              {"/usr/sbin/in.tftpd", "--foreground", "--address", std::string(kServerAddress) + ":69",
               "--create", "--secure", "--map-file", Root + "/map", Served},
              Root + "/tftpd.log");
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (!Bed.Run(ServerNs, "ss -Hlun 'sport = :69'").empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // Every write is answered with an access violation: the image exists, belongs to the
  // server's user and only that user may read it.
  void RefuseWrites() {
    const std::string image = Served + "/firmware.bin";
    std::ofstream(image) << "old image";
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || chown(image.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
      throw std::runtime_error("cannot hand the image to nobody");
    chmod(image.c_str(), 0600);
  }

  // A local file of `size` bytes of a fixed pattern.
  std::string WriteImage(std::size_t size) {
    const std::string path = Root + "/image.bin";
    std::ofstream file(path, std::ios::binary);
    for (std::size_t i = 0; i < size; ++i) file.put(static_cast<char>((i * 7) ^ (i >> 9)));
    return path;
  }

  // What the server stored, once it holds `size` bytes (it may still be writing when the
  // client has its last acknowledgement); waits at most 2 s.
  std::string Stored(std::size_t size) {
    std::string content;
    for (int i = 0; i < 100; ++i) {
      content = ReadFile(Served + "/firmware.bin");
      if (content.size() >= size) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return content;
  }

  static std::string ReadFile(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) return "";
    std::string content(size, '\0');
    std::ifstream(path, std::ios::binary).read(content.data(), static_cast<std::streamsize>(size));
    return content;
  }

  TNetnsBed Bed;
  std::string ServerNs;
  std::string ClientNs;
  std::string Root;
  std::string Served;
};

// Puts the calling thread (the main thread, which opens the upload's socket) into `ns` for the
// scope's life and back into its own namespace afterwards.
class TNamespaceScope {
 public:
  explicit TNamespaceScope(const std::string& ns)
      : Original(open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC)) {
    TNetnsBed::EnterOnThisThread(ns);
  }
  ~TNamespaceScope() {
    [[maybe_unused]] const int back = setns(Original, CLONE_NEWNET);
    close(Original);
  }
  TNamespaceScope(const TNamespaceScope&) = delete;
  TNamespaceScope& operator=(const TNamespaceScope&) = delete;

 private:
  int Original;
};

}  // namespace scoutor::test
