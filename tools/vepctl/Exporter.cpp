// vepctl exporter: scans every --every seconds, checks each device's reachability, and serves
// the last finished scan as Prometheus metrics on http://ADDRESS:PORT/metrics. The scans run on
// the engine's main loop, as watch runs them; the HTTP server answers from threads of its own
// (MetricsServer.h). Runs until Ctrl-C or SIGTERM, then exits 0.
#include <chrono>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "appmodel/DeviceOrder.h"
#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Listing.h"
#include "tools/vepctl/Metrics.h"
#include "tools/vepctl/MetricsServer.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"
#include "transport/IPv4Text.h"

namespace scoutor::vepctl {

namespace {

struct TExporterOptions {
  std::string Listen;   // as given
  std::string Address;  // read from it, canonical
  int Port = 0;
  int EverySeconds = 60;
  int WaitMs = 3000;
  TScanSelection Selection;
};

// Reads "ADDRESS:PORT" (dotted IPv4, port 1 to 65535) into the options.
CLI::Validator ListenAddress(TExporterOptions& options) {
  return CLI::Validator(
      [&options](const std::string& text) -> std::string {
        static const std::regex form("(.+):([0-9]{1,5})");
        std::smatch parts;
        const std::string problem =
            "not ADDRESS:PORT with a dotted IPv4 address and a port from 1 to 65535 (e.g. "
            "127.0.0.1:9784): " +
            text;
        if (!std::regex_match(text, parts, form)) return problem;
        const std::optional<std::string> address = CanonicalIPv4(parts[1].str());
        const int port = std::stoi(parts[2].str());
        if (!address || port < 1 || port > 65535) return problem;
        options.Address = *address;
        options.Port = port;
        return {};
      },
      "");
}

// One scan as discover --ping makes it: the devices selected, by name, each checked.
TScanMetrics ScanOnce(TSession& session, const TExporterOptions& options) {
  using TClock = std::chrono::steady_clock;
  const auto start = TClock::now();
  TScanMetrics metrics;
  TDeviceScan scan(session);
  scan.Run(options.WaitMs, StopRequested);
  metrics.Devices = SelectedDevices(scan.Devices(), options.Selection);
  SortDevices(metrics.Devices, TDeviceOrder::Name);
  std::vector<std::string> addresses;
  for (const TDeviceInfo& device : metrics.Devices) addresses.push_back(device.IPAddress);
  metrics.Checks = CheckAll(session, addresses);
  metrics.DurationSeconds = std::chrono::duration<double>(TClock::now() - start).count();
  metrics.EndedAtSeconds =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  return metrics;
}

int RunExporter(const TExporterOptions& options, const TGlobalOptions& global) {
  const TOutput output(global.Json);
  CatchStopSignals();
  TSession session(global);
  options.Selection.Restrict(session, options.Selection.Interfaces());
  TMetricsServer server;
  if (const std::string problem = server.Start(options.Address, options.Port); !problem.empty())
    return output.Error(1, problem,
                        {{"listen", options.Address + ":" + std::to_string(options.Port)}});
  const std::string url =
      "http://" + options.Address + ":" + std::to_string(options.Port) + "/metrics";
  output.Record({{"url", url}}, "serving " + url);
  RepeatUntilStopped(session, options.EverySeconds, [&] {
    TScanMetrics metrics = ScanOnce(session, options);
    // A scan cut short by a stop would drop every device it missed.
    if (!StopRequested()) server.Publish(MetricsText(metrics));
  });
  return 0;
}

}  // namespace

void AddExporterCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode) {
  auto options = std::make_shared<TExporterOptions>();
  CLI::App* command =
      app.add_subcommand("exporter", "Serve the devices as Prometheus metrics over HTTP");
  command->footer(
      "Scans every --every seconds (each scan listens --wait ms, then pings every device\n"
      "heard) and serves the last finished scan on http://ADDRESS:PORT/metrics in\n"
      "Prometheus's text format: vep_device_info (labels id, name, type, ip, interface;\n"
      "value 1) and vep_device_reachable (label id; 1 or 0) per device heard,\n"
      "vep_devices, vep_scan_duration_seconds and vep_last_scan_timestamp_seconds.\n"
      "A device missing from a scan has no series until it answers again. Until the\n"
      "first scan ends /metrics answers 503. --filter and --interface choose the\n"
      "devices as in discover. Prints the URL once listening; runs until Ctrl-C or\n"
      "SIGTERM, then exits 0. Exit 1 when it cannot listen.");
  command->add_option("--listen", options->Listen, "Serve on this local address and port")
      ->required()
      ->type_name("ADDRESS:PORT")
      ->check(ListenAddress(*options));
  command->add_option("--every", options->EverySeconds, "Start a scan this often")
      ->option_text("S (default 60, at least 3)")
      ->check(CLI::Range(kShortestScanIntervalSeconds, 86400));
  command->add_option("--wait", options->WaitMs, "Listen this long from each scan's start")
      ->option_text("MS (default 3000)")
      ->check(CLI::Range(0, 600000));
  options->Selection.AddOptions(*command);
  command->callback([options, &global, &exitCode] { exitCode = RunExporter(*options, global); });
}

}  // namespace scoutor::vepctl
