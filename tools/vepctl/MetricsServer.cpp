#include "tools/vepctl/MetricsServer.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace scoutor::vepctl {

namespace {

constexpr const char* kMetricsType = "text/plain; version=0.0.4; charset=utf-8";
constexpr int kRequestThreads = 2;
// A slow or silent client gives up its thread after this long.
constexpr int kClientTimeoutSeconds = 5;
// How long Start waits for the server's thread to take up the socket.
constexpr auto kStartLimit = std::chrono::seconds(2);

}  // namespace

TMetricsServer::TMetricsServer() : Server(std::make_unique<httplib::Server>()) {
  Server->new_task_queue = [] { return new httplib::ThreadPool(kRequestThreads); };
  Server->set_read_timeout(kClientTimeoutSeconds);
  Server->set_write_timeout(kClientTimeoutSeconds);
  Server->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    const std::lock_guard<std::mutex> hold(Lock);
    if (!Ready) {
      response.status = 503;
      response.set_content("vepctl exporter: the first scan has not ended yet\n",
                           "text/plain; charset=utf-8");
      return;
    }
    response.set_content(Text, kMetricsType);
  });
}

TMetricsServer::~TMetricsServer() {
  if (!Listener.joinable()) return;
  Server->stop();
  Listener.join();
}

std::string TMetricsServer::Start(const std::string& address, int port) {
  errno = 0;
  if (!Server->bind_to_port(address, port)) {
    const int error = errno;
    return "cannot listen on " + address + ":" + std::to_string(port) +
           (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
  }
  Listener = std::thread([this] { Server->listen_after_bind(); });
  // A stop that came before the thread runs would be lost, and the destructor wait forever.
  const auto limit = std::chrono::steady_clock::now() + kStartLimit;
  while (!Server->is_running()) {
    if (std::chrono::steady_clock::now() > limit)
      return "the HTTP server on " + address + ":" + std::to_string(port) + " did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return {};
}

void TMetricsServer::Publish(std::string text) {
  const std::lock_guard<std::mutex> hold(Lock);
  Text = std::move(text);
  Ready = true;
}

}  // namespace scoutor::vepctl
