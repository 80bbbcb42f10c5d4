// vepctl web: the main window's Web action. Opens a device's web page ("http://" + its IP
// address + "/") in the desktop's browser; a device named by its ID is found by a scan first.
#include <memory>
#include <optional>
#include <string>

#include "protocol/VepWire.h"
#include "tools/vepctl/BrowserLaunch.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

namespace {

struct TWebOptions {
  std::string Device;
  int WaitMs = 3000;
};

// Accepts a dotted IPv4 address (made canonical) or a device ID.
const CLI::Validator& AddressOrDeviceID() {
  static const CLI::Validator validator(
      [](std::string& text) -> std::string {
        if (const std::optional<std::string> canonical = CanonicalIPv4(text)) {
          text = *canonical;
          return {};
        }
        std::string asID = text;
        if (DeviceIDText()(asID).empty()) return {};
        return "neither a dotted IPv4 address nor a device ID (e.g. 10.0.0.7 or "
               "00:0A:1B:2C:3D:4E): " +
               text;
      },
      "");
  return validator;
}

int RunWeb(const TWebOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  std::string address = options.Device;
  TRecord record;
  if (!CanonicalIPv4(address)) {
    const std::string id = IDText(DeviceNodeID(options.Device));
    TSession session(global.Debug);
    TDeviceScan scan(session);
    scan.Run(options.WaitMs, [&] { return scan.Find(id) != nullptr; });
    const TDeviceInfo* found = scan.Find(id);
    if (found == nullptr)
      return output.Error(1, "device " + id + " did not answer the scan", {{"id", id}});
    address = found->IPAddress;
    record["id"] = id;
  }
  const std::string url = "http://" + address + "/";
  record["url"] = url;
  output.Record(record, Printable(url));
  const std::string problem = OpenInBrowser(url);
  if (!problem.empty())
    return output.Error(1, "could not open " + url + " (" + problem + "); open it in your browser",
                        {{"url", url}});
  return 0;
}

}  // namespace

void AddWebCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TWebOptions>();
  CLI::App* command = app.add_subcommand("web", "Open a device's web page in the browser");
  command->footer(
      "Prints the URL (http://ADDRESS/) and hands it to xdg-open. A device given by\n"
      "its ID is found by a scan (listening up to --wait ms) and its address used.\n"
      "Exit 1 when the device does not answer or xdg-open is missing or fails.");
  command->add_option("DEVICE", options->Device, "The device's ID or its IP address")
      ->required()
      ->type_name("ID|ADDRESS")
      ->transform(AddressOrDeviceID());
  command->add_option("--wait", options->WaitMs, "Listen this long for a device given by ID")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  command->callback([options, &global, &exitCode] { exitCode = RunWeb(*options, global); });
}

}  // namespace scoutor::vepctl
