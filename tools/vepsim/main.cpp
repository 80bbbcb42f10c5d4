// vepsim: emulates one or many VEP devices on UDP port 17784 of the current network namespace.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/vepsim/DeviceSources.h"
#include "tools/vepsim/Malformer.h"
#include "tools/vepsim/Simulator.h"

namespace {

// More devices than this are no test of anything but the machine's memory.
constexpr long long kMaxCount = 65536;

}  // namespace

int main(int argc, char** argv) {
  using namespace scoutor;
  CLI::App app{
      "Emulates VEP devices on UDP port 17784: every device answers discovery broadcasts,\n"
      "and get-IP and set-IP requests addressed to its node ID (00 01 + its hardware\n"
      "address); with --tftp it also takes firmware uploads by TFTP on its own address.\n"
      "Run it inside a network namespace made for testing.",
      "vepsim"};
  app.get_formatter()->column_width(30);  // the longest option with its value, in a group

  std::vector<std::string> deviceTexts;
  std::string configFile;
  TDeviceGenerator generator;
  TSimOptions options;
  std::string malformed;
  bool seedGiven = false;
  // Range checks without their own text in the help.
  const auto share = CLI::Range(0.0, 1.0).description("");
  const auto milliseconds = CLI::Range(0.0, 60000.0).description("");

  CLI::App* deviceGroup = app.add_option_group("Devices", "At least one device is needed.");
  deviceGroup
      ->add_option("--device", deviceTexts,
                   "KEY=VALUE,... with the keys mac (required), name, type,\n"
                   "ip, mask, gw, dhcp (0/1), busy_first (0/1), restart_ms;\n"
                   "e.g. mac=00:0A:1B:2C:3D:4E,name=AP-1,ip=10.0.0.7; repeatable")
      ->type_name("DEVICE");
  deviceGroup
      ->add_option("--config", configFile,
                   "JSON: {\"devices\": [{\"mac\": \"...\", \"name\": ..., \"type\": ...,\n"
                   "\"ip\": ..., \"mask\": ..., \"gw\": ..., \"dhcp\": false,\n"
                   "\"busy_first\": false, \"restart_ms\": 0}, ...]}")
      ->type_name("FILE")
      ->check(CLI::ExistingFile.description(""));
  long long count = 0;
  deviceGroup
      ->add_option("--count", count,
                   "Generate N (0.." + std::to_string(kMaxCount) +
                       ") more devices with consecutive addresses:")
      ->type_name("N")
      ->check(CLI::Validator(
          [](const std::string& text) {
            long long value = -1;
            if (!CLI::detail::lexical_cast(text, value) || value < 0 || value > kMaxCount)
              return "--count must be a whole number from 0 to " + std::to_string(kMaxCount) +
                     ": " + text;
            return std::string();
          },
          ""));
  deviceGroup
      ->add_option("--mac-base", generator.MacBase, "  first hardware address (02:00:00:00:00:01)")
      ->type_name("MAC");
  deviceGroup->add_option("--ip-base", generator.IPBase, "  first IP address (10.0.0.100)")
      ->type_name("ADDR");
  deviceGroup->add_option("--mask", generator.SubnetMask, "  their subnet mask (255.255.0.0)")
      ->type_name("ADDR");
  deviceGroup->add_option("--gateway", generator.DefaultGateway, "  their gateway (0.0.0.0)")
      ->type_name("ADDR");
  deviceGroup
      ->add_option("--name-prefix", generator.NamePrefix, "  names are TEXT1, TEXT2, ... (SIM-)")
      ->type_name("TEXT");
  deviceGroup->add_option("--type", generator.Type, "  their type (Simulated)")->type_name("TEXT");

  CLI::App* network = app.add_option_group("Network");
  network
      ->add_option("--interface", options.InterfaceName,
                   "Hear requests on this interface only (default: all)")
      ->type_name("IFNAME");
  network
      ->add_option("--readdress", options.ReaddressInterface,
                   "On a static set-IP, really move the device's address on\n"
                   "this interface and make a non-zero gateway the default route")
      ->type_name("IFNAME");
  CLI::Option* hold = network
                          ->add_option("--hold-addresses", options.HoldInterface,
                                       "Put every device's address on this interface while\n"
                                       "running, so it answers pings and ARP (and replies\n"
                                       "come from it); they are removed at the end")
                          ->type_name("IFNAME");
  network->add_flag("--unicast", options.Unicast,
                    "Reply to the request's source, not to 255.255.255.255");

  CLI::App* uploads = app.add_option_group("Firmware uploads");
  uploads
      ->add_option("--tftp", options.TftpDirectory,
                   "Take TFTP uploads (octet, blksize) on UDP port 69 of each\n"
                   "device's held address and store each as\n"
                   "DIR/<MAC>.bin (02-00-00-00-00-01.bin); needs\n"
                   "--hold-addresses")
      ->type_name("DIR")
      ->check(CLI::ExistingDirectory.description(""))
      // A device takes uploads on its own address, which only a held address gives it.
      ->needs(hold);
  bool busyFirst = false;
  uploads->add_flag("--busy-first", busyFirst,
                    "Every device refuses its first upload (TFTP error 2)");
  std::string restartText = "0";
  uploads
      ->add_option("--restart-ms", restartText,
                   "After an upload a device answers no VEP request for\n"
                   "MS (0.." +
                       std::to_string(kMaxRestartMs) + "), or never again (default 0)")
      ->type_name("MS|never")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return ParseRestartTime(text)
                       ? std::string()
                       : "--restart-ms must be a whole number of milliseconds from 0 to " +
                             std::to_string(kMaxRestartMs) + " or never: " + text;
          },
          ""));

  uploads
      ->add_option("--write-ms", options.WriteMs,
                   "A device acknowledges each block MS after it came, as\n"
                   "one writing its flash (default 0)")
      ->type_name("MS")
      ->check(CLI::Range(0.0, 1000.0).description(""));

  CLI::App* faults = app.add_option_group("Timing and faults");
  faults->add_option("--delay", options.DelayMs, "Wait MS before each reply")
      ->type_name("MS")
      ->check(milliseconds);
  faults->add_option("--jitter", options.JitterMs, "Plus a uniform random 0..MS per reply")
      ->type_name("MS")
      ->check(milliseconds);
  faults->add_option("--drop", options.DropRate, "Share of replies never sent (0..1)")
      ->type_name("RATE")
      ->check(share);
  std::string modes;
  for (const std::string& name : MalformedModeNames()) {
    if (!modes.empty()) modes += modes.size() - modes.rfind('\n') > 30 ? ",\n" : ", ";
    modes += name;
  }
  faults->add_option("--malformed", malformed, "Damage replies: " + modes)
      ->type_name("MODE")
      ->check(CLI::Validator(
          [](const std::string& name) {
            return ParseMalformedMode(name) ? std::string() : "unknown mode '" + name + "'";
          },
          ""));
  faults
      ->add_option("--malformed-rate", options.MalformedRate,
                   "Share of replies damaged (0..1; default 1)")
      ->type_name("RATE")
      ->check(share);
  faults->add_flag("--malformed-then-good", options.MalformedThenGood,
                   "Follow each damaged reply by the good one");
  const std::map<std::string, TVEPMethod> methods = {
      {"discover", vmDiscover}, {"get-ip", vmGetIP}, {"set-ip", vmSetIP}};
  std::vector<std::string> ignored;
  faults
      ->add_option("--ignore", ignored,
                   "Neither answer nor carry out requests of this kind:\n"
                   "discover, get-ip or set-ip; repeatable")
      ->type_name("METHOD")
      ->check(CLI::Validator(
          [&methods](const std::string& name) {
            return methods.contains(name)
                       ? std::string()
                       : "--ignore takes discover, get-ip or set-ip, not " + name;
          },
          ""));
  faults->add_option("--seed", options.Seed, "Seed for jitter, drops and damage choice")
      ->type_name("N")
      ->each([&](const std::string&) { seedGiven = true; });

  app.add_flag("-v,--verbose", options.Verbose, "Log every request and reply to stderr");

  app.set_version_flag("--version", "vepsim " SCOUTOR_VERSION);

  // Usage errors exit 2, as vepctl's do.
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return 2;
  }
  for (const std::string& name : ignored) options.Ignored.insert(methods.at(name));
  generator.Count = static_cast<std::size_t>(count);
  std::vector<TSimDevice> generated;
  try {
    generated = GenerateDevices(generator);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vepsim: %s\n", error.what());
    return 2;
  }

  try {
    std::vector<TSimDevice> devices;
    for (const std::string& text : deviceTexts) devices.push_back(ParseDeviceText(text));
    if (!configFile.empty())
      for (TSimDevice& device : LoadDeviceFile(configFile)) devices.push_back(device);
    for (TSimDevice& device : generated) devices.push_back(device);
    CheckDeviceList(devices);
    // --busy-first holds for every device; a device's own restart time wins over --restart-ms.
    for (TSimDevice& device : devices) {
      device.BusyFirst = device.BusyFirst || busyFirst;
      if (!device.Restart) device.Restart = ParseRestartTime(restartText);
    }
    if (!malformed.empty())
      options.Malformed = ParseMalformedMode(malformed);
    else if (options.MalformedThenGood || options.MalformedRate != 1)
      throw std::runtime_error("--malformed-rate and --malformed-then-good need --malformed");
    if (!seedGiven) options.Seed = std::random_device()();

    TSimulator simulator(std::move(devices), options);
    simulator.Run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vepsim: %s\n", error.what());
    return 1;
  }
  return 0;
}
