#include "tests/support/ToolRun.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace scoutor::test {

TRun RunIn(TNetnsBed& bed, const std::string& ns, const std::string& command, bool withErrors) {
  const std::string output =
      bed.Run(ns, command + (withErrors ? " 2>&1" : " 2>/dev/null") + "; echo exit=$?");
  const std::size_t mark = output.rfind("exit=");
  TRun run;
  run.Output = output.substr(0, mark);
  run.Exit = std::stoi(output.substr(mark + 5));
  return run;
}

TRun RunOnHost(const std::string& command) {
  TRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("popen failed");
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.Output.append(buffer, n);
  const int status = pclose(pipe);
  run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void WaitForUdpListener(TNetnsBed& bed, const std::string& ns, int port) {
  const std::string command = "ss -Huan 'sport = :" + std::to_string(port) + "'";
  for (int i = 0; i < 500; ++i) {
    if (!bed.Run(ns, command).empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "nothing listens on UDP port " << port << " in " << ns;
}

std::string ReadFile(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::string bytes(size, '\0');
  std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

std::vector<nlohmann::json> JsonLines(const std::string& output) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

}  // namespace scoutor::test
