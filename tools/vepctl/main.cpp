// vepctl: finds and configures VEP devices from the command line. Exit codes: 0 success,
// 1 no answer or failure, 2 usage error or refused request.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string_view>

#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Options.h"
#include "tools/vepctl/Output.h"
#include "tools/vepctl/Session.h"

namespace {

using namespace scoutor::vepctl;

// Output that never reached standard output (a full disk, a closed pipe) is a failure.
int CheckedExit(int exitCode) {
  std::cout.flush();
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout) && !std::cout.fail()) return exitCode;
  const int error = errno;
  std::fprintf(stderr, "vepctl: cannot write to standard output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return 1;
}

// Parse errors come before the options are stored, so --json (or discover's --format json)
// is looked for by hand.
bool JsonAsked(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "--json" || argument == "--format=json") return true;
    if (argument == "--format" && i + 1 < argc && std::string_view(argv[i + 1]) == "json")
      return true;
  }
  return false;
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
  return names;
}

int UsageError(const CLI::App& app, const CLI::ParseError& error, int argc, char** argv) {
  const bool json = JsonAsked(argc, argv);
  const std::vector<std::string> commands = CommandNames(app);
  const std::string unknown = UnknownCommand(argc, argv, commands);
  if (!unknown.empty()) {
    const std::string closest = ClosestCommand(unknown, commands);
    std::string message = "unknown command '" + unknown + "'";
    if (!closest.empty()) message += "; did you mean '" + closest + "'?";
    message += " (vepctl --help lists the commands)";
    return ReportError(json, 2, message, {{"command", unknown}});
  }
  return ReportError(json, 2, std::string(error.what()) + " (--help tells more)");
}

}  // namespace

int main(int argc, char** argv) {
  // Names sort as the user's locale orders them, as in the main window's list, and patterns
  // ignore case in the characters of that locale.
  std::setlocale(LC_COLLATE, "");
  std::setlocale(LC_CTYPE, "");
  CLI::App app("vepctl: find and configure VEP devices on the local network", "vepctl");
  // Global options are accepted before and after the command.
  app.fallthrough();
  app.require_subcommand(1);
  app.set_version_flag("--version", "vepctl " SCOUTOR_VERSION);
  app.footer("Exit codes: 0 success, 1 no answer or failure, 2 usage error or refused request.");
  TGlobalOptions global;
  app.add_flag("-d,--debug", global.Debug, "Print the engine's diagnostics to standard error");
  app.add_option("--arp-rate", global.ArpPerSecond,
                 "Reachability checks on the link layer send at most N ARP requests a second "
                 "on each interface (default 1000)")
      ->type_name("N")
      ->check(CLI::Range(1u, 1000000u));
  app.add_flag("--json", global.Json,
               "Print one JSON object per line on standard output, errors included");

  int exitCode = 0;
  AddDiscoverCommand(app, global, exitCode);
  AddWatchCommand(app, global, exitCode);
  AddWebCommand(app, global, exitCode);
  AddGetIPCommand(app, global, exitCode);
  AddSetIPCommand(app, global, exitCode);
  AddAutoIPCommand(app, global, exitCode);
  AddUpgradeCommand(app, global, exitCode);
  AddPingCommand(app, global, exitCode);
  AddChooseIPCommand(app, global, exitCode);
  AddMacToIDCommand(app, global, exitCode);
  AddExporterCommand(app, global, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& help) {
    return CheckedExit(app.exit(help));
  } catch (const CLI::ParseError& error) {
    return CheckedExit(UsageError(app, error, argc, argv));
  } catch (const std::exception& error) {
    return CheckedExit(ReportError(global.Json, 1, error.what()));
  }
  return CheckedExit(exitCode);
}
