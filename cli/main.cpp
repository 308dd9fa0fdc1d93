// zuba-cli: the headless front end. Every command runs the same library code as the desktop
// program; messages go to stderr as "Caption: text".
#include <iostream>
#include <vector>

#include "cli/command.h"

namespace zuba::cli {
namespace {
std::vector<CommandSetup>& Setups() {
  static std::vector<CommandSetup> setups;
  return setups;
}
}  // namespace

bool RegisterCommand(CommandSetup setup) {
  Setups().push_back(setup);
  return true;
}

}  // namespace zuba::cli

int main(int argc, char** argv) {
  using namespace zuba::cli;
  CLI::App app{"ZUBA: equilibrium orbits and isochronism of sectored cyclotrons", "zuba-cli"};
  app.require_subcommand(1);
  std::vector<Command> commands;
  for (CommandSetup setup : Setups()) commands.push_back(setup(app));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  for (const Command& command : commands) {
    if (command.app->parsed()) {
      try {
        return command.run();
      } catch (const UsageError& e) {
        std::cerr << e.message << "\n";
        return kExitUsage;
      }
    }
  }
  return kExitUsage;
}
