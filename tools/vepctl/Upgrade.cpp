// vepctl upgrade: uploads a firmware file to a device by TFTP as the flash upgrade dialog does:
// when the device refuses the first attempt with an access violation (result 1), it waits
// 10 s and tries once more. Progress goes to standard error, the result code to standard
// output. With --device, --type or --all it upgrades several devices (FleetUpgrade.cpp).
#include "tools/vepctl/Upgrade.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "appmodel/UpgradeAttempts.h"
#include "hostnet/MissingReplies.h"
#include "protocol/UpgradeOutcome.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "transport/TftpClient.h"

namespace scoutor::vepctl {

namespace {

void Status(const std::string& text) {
  std::fprintf(stderr, "vepctl: %s\n", text.c_str());
}

int RunUpgrade(const TUpgradeOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  const TRecord fields = {{"file", options.File}, {"address", options.Address}};
  TSession session(global);
  TTftpClient client;
  if (options.Retries) client.Retries = *options.Retries;
  TProgressDisplay display(isatty(STDERR_FILENO) == 1);
  client.OnWorkBegin = [&display](TTransportComponent&, TWorkMode, std::int64_t total) {
    display.Started(total);
  };
  client.OnWork = [&display](TTransportComponent&, TWorkMode, std::int64_t sent) {
    display.Progress(sent);
  };
  client.OnWorkEnd = [&display](TTransportComponent&, TWorkMode) { display.Ended(); };
  TUpgradeAttempts attempts(ClientUpload(client));
  attempts.OnLogLine = Status;
  attempts.Start(options.File, options.Address);
  // Every attempt ends: an upload with its last acknowledgement or a time-out, the pause with
  // its timer.
  session.Wait([&attempts] { return attempts.Phase() == TUpgradeAttempts::TPhase::Ended; }, -1);

  const TUpgradeOutcome& outcome = attempts.Outcome();
  TRecord record = fields;
  record["result"] = outcome.Code();
  record["attempts"] = attempts.Attempts();
  record["succeeded"] = outcome.Succeeded();
  const std::string result = "result=" + std::to_string(outcome.Code());
  if (outcome.Succeeded()) {
    output.Record(record, result + " Upgrade succeeded");
    return 0;
  }
  std::string reason = OneLine(outcome.Reason.value_or(""));
  // The device's answers come from a port of its own, which a host firewall takes for strangers.
  if (const std::string hint = FirewallHint("vepctl"); reason == "Timeout" && !hint.empty())
    reason += " (" + hint + ")";
  record["reason"] = reason;
  // The failure is the result line itself; with --json it is also the error object.
  if (!output.Json()) output.Record(record, result + " Upgrade Failed: " + reason);
  return output.Error(1, "Upgrade failed with reason: " + reason, record);
}

// An empty image is almost always a mistake (a failed build, a truncated copy).
int RunUpgradeCommand(const TUpgradeOptions& options, const TGlobalOptions& global) {
  std::error_code sizeError;
  if (!options.AllowEmpty && std::filesystem::file_size(options.File, sizeError) == 0 &&
      !sizeError) {
    TRecord fields = {{"file", options.File}};
    if (!options.Fleet()) fields["address"] = options.Address;
    return TOutput(global.Json)
        .Error(2, "the firmware file " + options.File + " is empty (--allow-empty sends it)",
               fields);
  }
  return options.Fleet() ? RunFleetUpgrade(options, global) : RunUpgrade(options, global);
}

}  // namespace

void AddUpgradeCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TUpgradeOptions>();
  CLI::App* command =
      app.add_subcommand("upgrade", "Upload a firmware file to a device, or several, by TFTP");
  command->footer(
      "When the device refuses the first attempt (result 1), tries once more after\n"
      "10 s. Shows the progress on standard error and prints the result code: 0\n"
      "done, 1 the device refused access, 2 the device reported file not found, 3\n"
      "any other failure. A failure is shown with its reason (the device's\n"
      "text, \"Timeout\", the socket error, a host firewall that drops the\n"
      "device's replies). Exit 0 only on 0.\n"
      "\n"
      "Instead of ADDRESS, --device (repeatable), --type or --all choose devices\n"
      "from one scan (listening --wait ms). Each gets the file, at most --parallel\n"
      "at once, with the same one retry, and is upgraded when it is heard again by\n"
      "discovery after its restart, within --verify-timeout s. One line per device\n"
      "(ID, name, then \"ok\", \"upload failed: REASON\", \"not heard again within\n"
      "S s\" or \"not found\"), then \"upgraded N of M; K failed\". A progress line\n"
      "on a terminal only. Exit 0 only when every device was upgraded.");
  command->add_option("FILE", options->File, "Firmware file")->required()->check(CLI::ExistingFile);
  CLI::Option* address =
      command->add_option("ADDRESS", options->Address, "The device's IPv4 address")
          ->transform(IPv4Text());
  command
      ->add_option("--retries", options->Retries,
                   "Send a packet again this often when the device stays silent (4 s each)")
      ->option_text("N (default 0)")
      ->check(CLI::Range(0, 100));
  command->add_flag("--allow-empty", options->AllowEmpty,
                    "Send an empty firmware file (refused otherwise, exit 2)");
  CLI::Option* device =
      command->add_option("--device", options->DeviceIDs, "Upgrade the device with this ID")
          ->option_text("ID ...")
          ->check(DeviceIDText());
  CLI::Option* type = command
                          ->add_option("--type", options->Type,
                                       "Upgrade the devices of this type (or glob, any case)")
                          ->option_text("TYPE");
  CLI::Option* all = command->add_flag("--all", options->All, "Upgrade every device that answers");
  address->excludes(device)->excludes(type)->excludes(all);
  device->excludes(type)->excludes(all);
  type->excludes(all);
  command->add_option("--parallel", options->Parallel, "Upload to this many devices at once")
      ->option_text("N (default 1)")
      ->check(CLI::Range(1, 64))
      ->excludes(address);
  command
      ->add_option("--verify-timeout", options->VerifyTimeoutS,
                   "Wait this long for a device to be heard again after its upload")
      ->option_text("S (default 120)")
      ->check(CLI::Range(1, 86400))
      ->excludes(address);
  command->add_option("--wait", options->WaitMs, "Listen this long from the scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000))
      ->excludes(address);
  command->callback([options, &global, &exitCode] {
    if (options->Address.empty() && !options->Fleet())
      throw CLI::RequiredError("ADDRESS, or --device, --type or --all,");
    exitCode = RunUpgradeCommand(*options, global);
  });
}

}  // namespace scoutor::vepctl
