// vepctl discover: lists the devices that answer one scan, as text, TSV, CSV or JSON, in an
// order of choice, optionally filtered and with their reachability.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tools/vepctl/Commands.h"
#include "appmodel/DeviceOrder.h"
#include "tools/vepctl/DeviceScan.h"
#include "tools/vepctl/ScanSelection.h"
#include "tools/vepctl/DeviceTable.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Reachability.h"
#include "tools/vepctl/ScanInterfaces.h"
#include "tools/vepctl/Session.h"
#include "tools/vepctl/SharedAddresses.h"

namespace scoutor::vepctl {

namespace {

struct TDiscoverOptions {
  bool Ping = false;
  int WaitMs = 3000;
  TListFormat Format = TListFormat::Text;
  TDeviceOrder Order = TDeviceOrder::Name;
  TScanSelection Selection;
};

std::vector<TDeviceInfo> Selected(const std::vector<TDeviceInfo>& devices,
                                  const TScanSelection& selection) {
  std::vector<TDeviceInfo> selected;
  for (const TDeviceInfo& device : devices)
    if (selection.Selects(device)) selected.push_back(device);
  return selected;
}

int RunDiscover(const TDiscoverOptions& options, const TGlobalOptions& global) {
  const TListFormat format = global.Json ? TListFormat::Json : options.Format;
  const TOutput output(format == TListFormat::Json);
  const std::vector<TLocalInterface> asked = options.Selection.Interfaces();
  TSession session(global.Debug);
  options.Selection.Restrict(session, asked);
  const TDeviceTable table(output, format, options.Ping);
  TDeviceScan scan(session);
  // Unsorted and without pings, every device is shown as soon as it answers; whether another
  // device shares its address is not known then.
  const bool streaming = options.Order == TDeviceOrder::None && !options.Ping;
  if (streaming) {
    table.Header();
    scan.OnNewDevice = [&](const TDeviceInfo& device) {
      if (options.Selection.Selects(device)) table.Row(device, std::nullopt, std::nullopt);
    };
  }
  scan.Run(options.WaitMs);

  std::vector<TDeviceInfo> listed = Selected(scan.Devices(), options.Selection);
  // An address that two devices answer from is a conflict on the network, whether or not the
  // filters show both.
  const std::vector<TSharedAddress> shared = SharedAddresses(scan.Devices());
  if (!streaming) {
    SortDevices(listed, options.Order);
    std::vector<TCheckResult> checks;
    if (options.Ping) {
      std::vector<std::string> addresses;
      for (const TDeviceInfo& device : listed) addresses.push_back(device.IPAddress);
      checks = CheckAll(session, addresses);
    }
    table.Header();
    for (std::size_t i = 0; i < listed.size(); ++i)
      table.Row(listed[i], IsShared(shared, listed[i].IPAddress),
                options.Ping ? std::optional<TCheckResult>(checks[i]) : std::nullopt);
  }
  for (const TSharedAddress& address : shared)
    std::fprintf(stderr, "vepctl: warning: %s\n", SharedAddressText(address).c_str());

  if (scan.Devices().empty())
    return output.Error(
        1, "no device answered the scan (asked through " + DescribeInterfaces(asked) + ")",
        {{"devices", 0}});
  if (listed.empty())
    return output.Error(1,
                        "none of the " + std::to_string(scan.Devices().size()) +
                            " devices that answered matches the filters",
                        {{"devices", 0}});
  return 0;
}

}  // namespace

void AddDiscoverCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TDiscoverOptions>();
  CLI::App* command = app.add_subcommand("discover", "List the devices that answer a scan");
  command->footer(
      "Sends five discovery broadcasts 500 ms apart and lists each device that\n"
      "answers once: name, type, IP address, ID and the local interface that heard\n"
      "it. The list comes when the scan is over, sorted (by name unless --sort says\n"
      "otherwise); with --sort none each device is shown as soon as its first reply\n"
      "comes. Text lines are tab-separated, without a header; a device whose IP\n"
      "address another device answers from too ends with \"duplicate IP\" (not known\n"
      "while streaming), and standard error warns once per such address. TSV and CSV\n"
      "have a header line: name,type,ip,id,interface,duplicate_ip (and reachable,error\n"
      "with --ping). With --ping the list follows the reachability checks; a check\n"
      "that could not be made is shown as failed, with the reason. When no device\n"
      "answers (or none matches the filters), says so on standard error, naming the\n"
      "interfaces asked, and exits 1.");
  command->add_flag("--ping", options->Ping,
                    "Also check whether each device answers a ping (all at once, up to 5 s each)");
  command->add_option("--wait", options->WaitMs, "Listen this long from the scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  const std::map<std::string, TListFormat> formats = {{"text", TListFormat::Text},
                                                      {"tsv", TListFormat::Tsv},
                                                      {"csv", TListFormat::Csv},
                                                      {"json", TListFormat::Json}};
  CLI::Option* format =
      command->add_option("--format", options->Format, "Output form (--json: --format json)")
          ->option_text("text|tsv|csv|json (default text)")
          ->transform(CLI::CheckedTransformer(formats));
  const std::map<std::string, TDeviceOrder> orders = {{"name", TDeviceOrder::Name},
                                                      {"ip", TDeviceOrder::IP},
                                                      {"id", TDeviceOrder::ID},
                                                      {"interface", TDeviceOrder::Interface},
                                                      {"none", TDeviceOrder::None}};
  command
      ->add_option("--sort", options->Order,
                   "Order of the list; ties go by ID (none: as the devices answer)")
      ->option_text("name|ip|id|interface|none (default name)")
      ->transform(CLI::CheckedTransformer(orders));
  options->Selection.AddOptions(*command);
  command->callback([options, format, &global, &exitCode] {
    if (global.Json && format->count() > 0 && options->Format != TListFormat::Json)
      throw CLI::ValidationError("--format", "--json asks for JSON; give one of the two");
    exitCode = RunDiscover(*options, global);
  });
}

}  // namespace scoutor::vepctl
