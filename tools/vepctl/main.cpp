// vepctl: finds and configures VEP devices from the command line. Exit codes: 0 success,
// 1 no answer or failure, 2 usage error.
#include <cstdio>
#include <exception>

#include "tools/vepctl/Commands.h"
#include "tools/vepctl/Session.h"

int main(int argc, char** argv) {
  using namespace scoutor::vepctl;
  CLI::App app("vepctl: find and configure VEP devices on the local network", "vepctl");
  // Global options are accepted before and after the command.
  app.fallthrough();
  app.require_subcommand(1);
  app.footer("Exit codes: 0 success, 1 no answer or failure, 2 usage error.");
  TGlobalOptions global;
  app.add_flag("-d,--debug", global.Debug, "Print the engine's diagnostics to standard error");
  app.add_flag("--json", global.Json, "Print one JSON object per line on standard output");

  int exitCode = 0;
  AddDiscoverCommand(app, global, exitCode);
  AddGetIPCommand(app, global, exitCode);
  AddSetIPCommand(app, global, exitCode);
  AddAutoIPCommand(app, global, exitCode);
  AddUpgradeCommand(app, global, exitCode);
  AddPingCommand(app, global, exitCode);
  AddChooseIPCommand(app, global, exitCode);
  AddMacToIDCommand(app, global, exitCode);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vepctl: %s\n", error.what());
    return 1;
  }
  return exitCode;
}
