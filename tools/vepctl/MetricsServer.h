#pragma once
// The HTTP side of vepctl exporter: serves the metrics text of the last finished scan on
// GET /metrics (cpp-httplib), and 503 until a first scan has ended. Start binds and starts the
// server's thread, which hands requests to a pool of two; they only copy the text under a
// mutex, so scans on the main loop never wait for a client, nor a client for a scan.
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace scoutor::vepctl {

class TMetricsServer {
 public:
  TMetricsServer();
  // Stops the server and waits for its threads.
  ~TMetricsServer();
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  // Listens on `address` (dotted IPv4) and `port`; empty when it does, else why not. Once only.
  std::string Start(const std::string& address, int port);
  // The text served from now on. Any thread.
  void Publish(std::string text);

 private:
  std::unique_ptr<httplib::Server> Server;
  std::thread Listener;
  std::mutex Lock;
  std::string Text;    // under Lock
  bool Ready = false;  // under Lock: a scan has ended
};

}  // namespace scoutor::vepctl
