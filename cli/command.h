// Sub-command registry of zuba-cli: each command file registers itself at start-up.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "platform/message.h"

namespace zuba::cli {

// Exit codes of zuba-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;    // unknown command, option, label or name; malformed number
inline constexpr int kExitRefused = 2;  // parameters, field map or document refused
inline constexpr int kExitFailed = 3;   // the calculation failed
inline constexpr int kExitStopped = 130;  // stopped by Ctrl+C

// Shows the failure of an input that was refused (the reader's or the check's own message; the
// command line says why even where the desktop program shows no box) and gives the exit code of a
// refusal.
inline int Refused(const Outcome& outcome) {
  Message message = outcome.message();
  message.text = TextNamingFile(outcome.failure());  // a refused file is named in front
  ShowMessage(message);
  return kExitRefused;
}

// A command adds its sub-command to the application and returns what runs it (its exit code).
struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};
using CommandSetup = Command (*)(CLI::App& parent);

// Registers a command; used through ZUBA_CLI_COMMAND at namespace scope of a command file.
bool RegisterCommand(CommandSetup setup);

// A usage error found after parsing (an unknown --mode label, a bad --set name): message, exit 1.
struct UsageError {
  std::string message;
};

}  // namespace zuba::cli

#define ZUBA_CLI_CONCAT2(a, b) a##b
#define ZUBA_CLI_CONCAT(a, b) ZUBA_CLI_CONCAT2(a, b)
#define ZUBA_CLI_COMMAND(setup) \
  static const bool ZUBA_CLI_CONCAT(zubaRegistered_, __LINE__) = ::zuba::cli::RegisterCommand(setup)
