#pragma once
// The subcommands of vepctl. Each Add...Command registers one subcommand with its options on
// the application; when it is chosen, its callback runs the command and stores the exit code
// (0 success, 1 no answer or failure, 2 a refused request) in `exitCode`.
#include <string>

#include <CLI/CLI.hpp>

#include "protocol/VepFormat.h"

namespace scoutor::vepctl {

struct TGlobalOptions {
  bool Debug = false;  // -d: the engine's diagnostics on standard error
  bool Json = false;   // --json: one JSON object per line on standard output
};

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

// Accepts a device's ID text: six hexadecimal bytes joined by colons ("00:0A:1B:2C:3D:4E").
// A shorter or garbled text would leave bytes of the node ID unset and address some other
// device, so it is a usage error.
const CLI::Validator& DeviceIDText();
// Accepts a dotted IPv4 text as transport/IPv4Text.h reads it and puts its canonical form in
// its place ("010.001.002.003" becomes "10.1.2.3"), so the engine is handed one reading only.
const CLI::Validator& IPv4Text();
// The 8-byte node ID of an ID text that DeviceIDText accepted.
TVEPNodeID DeviceNodeID(const std::string& idText);

}  // namespace scoutor::vepctl
