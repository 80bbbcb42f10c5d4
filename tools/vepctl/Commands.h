#pragma once
// The subcommands of vepctl. Each Add...Command registers one subcommand with its options on
// the application; when it is chosen, its callback runs the command and stores the exit code
// (0 success, 1 no answer or failure, 2 a refused request) in `exitCode`.
#include <CLI/CLI.hpp>

#include "tools/vepctl/Options.h"

namespace scoutor::vepctl {

void AddDiscoverCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddWatchCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddWebCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddGetIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddSetIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddAutoIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddUpgradeCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddPingCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddChooseIPCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddMacToIDCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);
void AddExporterCommand(CLI::App& app, const TGlobalOptions& global, int& exitCode);

}  // namespace scoutor::vepctl
