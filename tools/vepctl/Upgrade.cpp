// vepctl upgrade: uploads a firmware file to a device by TFTP as the flash upgrade dialog does:
// when the device refuses the first attempt with an access violation (result 1), it waits
// 10 s and tries once more. Progress goes to standard error, the result code to standard
// output.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "protocol/StartEngine.h"
#include "protocol/VEP.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/ProgressDisplay.h"
#include "tools/vepctl/Session.h"

namespace scoutor::vepctl {

namespace {

constexpr int kRetryDelayMs = 10000;

struct TUpgradeOptions {
  std::string File;
  std::string Address;
  std::optional<int> Retries;
};

// How often the TFTP client sends its last packet again when a wait for the device's answer
// ends in silence. Not part of the library's C interface: vepctl sets it on the engine's own
// client, which it can reach since it links the engine statically.
void SetUploadRetries(int retries) { EngineInstance->Tftp().Retries = retries; }

void Status(const char* text) { std::fprintf(stderr, "vepctl: %s\n", text); }

int RunUpgrade(const TUpgradeOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  TSession session(global.Debug);
  if (options.Retries) SetUploadRetries(*options.Retries);
  TProgressDisplay display(isatty(STDERR_FILENO) == 1);
  session.Vep().HandleUpgradeProgress = [&display](std::uint32_t, const TVEPProgressEvent& event) {
    if (event.Kind == upStarted) display.Started(event.Value);
    else if (event.Kind == upProgress) display.Progress(event.Value);
    else display.Ended();
  };
  const auto attempt = [&] {
    const std::int32_t result = VEPUpgradeDevice(options.File.c_str(), options.Address.c_str());
    display.Ended();
    return result;
  };

  int attempts = 1;
  std::int32_t result = attempt();
  if (result == 0) {
    Status("Upgrade succeeded");
  } else if (result == 1) {
    Status("First Upgrade Failed");
    Status("Delay 10 seconds");
    session.RunFor(kRetryDelayMs);
    Status("Attempting second upgrade");
    ++attempts;
    result = attempt();
    Status(result == 0 ? "Second upgrade succeeded" : "Second Upgrade Failed");
  } else {
    Status("Upgrade Failed");
  }
  output.Record({{"file", options.File},
                 {"address", options.Address},
                 {"result", result},
                 {"attempts", attempts},
                 {"succeeded", result == 0}},
                "result=" + std::to_string(result) +
                    (result == 0 ? " Upgrade succeeded" : " Upgrade Failed"));
  return result == 0 ? 0 : 1;
}

}  // namespace

void AddUpgradeCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TUpgradeOptions>();
  CLI::App* command = app.add_subcommand(
      "upgrade", "Upload a firmware file to a device by TFTP");
  command->footer(
      "When the device refuses the first attempt (result 1), tries once more after\n"
      "10 s. Shows the progress on standard error and prints the result code: 0\n"
      "done, 1 the device refused access, 2 the device reported file not found, 3\n"
      "any other failure. Exit 0 only on 0.");
  command->add_option("FILE", options->File, "Firmware file")->required()->check(CLI::ExistingFile);
  command->add_option("ADDRESS", options->Address, "The device's IPv4 address")
      ->required()
      ->check(CLI::ValidIPV4);
  command->add_option("--retries", options->Retries,
                      "Send a packet again this often when the device stays silent (4 s each)")
      ->option_text("N (default 0)")
      ->check(CLI::Range(0, 100));
  command->callback([options, &global, &exitCode] { exitCode = RunUpgrade(*options, global); });
}

}  // namespace scoutor::vepctl
