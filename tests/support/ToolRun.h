#pragma once
// Running the command-line programs as their users do, for the tests of vepctl and vepsim:
// inside a namespace of a test bed (or on this host, for commands that send nothing), with the
// exit code and what they printed; plus the small readers those tests share.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/NetnsBed.h"

namespace scoutor::test {

struct TRun {
  int Exit = -1;
  std::string Output;
};

// Runs `command` (shell words, redirections allowed) in `ns`; standard error is dropped unless
// `withErrors`, then it is mixed into the output.
TRun RunIn(TNetnsBed& bed, const std::string& ns, const std::string& command,
           bool withErrors = false);
// Runs `command` on this host. Only for commands that send nothing.
TRun RunOnHost(const std::string& command);

// Waits (bounded: 5 s) until something in `ns` listens on UDP port `port`; a test failure
// otherwise.
void WaitForUdpListener(TNetnsBed& bed, const std::string& ns, int port);

// A file's bytes (empty when it is missing).
std::string ReadFile(const std::string& path);
// The JSON objects of a program's output, one per non-empty line.
std::vector<nlohmann::json> JsonLines(const std::string& output);

}  // namespace scoutor::test
