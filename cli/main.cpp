// zuba-cli: the headless front end. Every command runs the same library code as the desktop
// program; messages go to stderr as "Caption: text".
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/numbers.h"

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

namespace {

// Every option and argument that takes a number reads it with the program's number reader: CLI11's
// own conversion would take "0x10", "inf", "nan" or an octal "010", and reads a real through long
// double, rounding twice. A value that is no number is a usage error that names the option; a
// number is handed on, before any range check of the option sees it, in a form that CLI11 converts
// exactly (a whole number in plain decimal; a real as given, or in its exact hexadecimal form where
// long double would round it to another double).
void CheckNumbers(CLI::App& app) {
  const CLI::Validator real(
      [](std::string& text) -> std::string {
        const std::optional<double> value = ParseNumber(text);
        if (!value) return "\"" + text + "\" is not a number";
        // The text as given, unless long double would round it to another double (a text near
        // the middle between two doubles): then its exact hexadecimal form.
        if (static_cast<double>(std::strtold(text.c_str(), nullptr)) != *value) {
          char digits[40];
          const auto written = std::to_chars(digits, digits + sizeof digits, std::fabs(*value),
                                             std::chars_format::hex);
          text =
              std::string(std::signbit(*value) ? "-0x" : "0x") + std::string(digits, written.ptr);
        }
        return {};
      },
      "");
  const CLI::Validator whole(
      [](std::string& text) -> std::string {
        const std::optional<int64_t> value = ParseWholeNumber(text);
        if (!value) return "\"" + text + "\" is not a whole number";
        text = std::to_string(*value);
        return {};
      },
      "");
  for (CLI::Option* option : app.get_options()) {
    std::string type = option->get_type_name();  // "INT", or "INT:" and a validator's text
    type = type.substr(0, type.find(':'));
    if (type == "FLOAT") option->transform(real);
    if (type == "INT" || type == "UINT") option->transform(whole);
  }
  for (CLI::App* command : app.get_subcommands({})) CheckNumbers(*command);
}

}  // namespace

}  // namespace zuba::cli

int main(int argc, char** argv) {
  using namespace zuba::cli;
  CLI::App app{"ZUBA: equilibrium orbits and isochronism of sectored cyclotrons", "zuba-cli"};
  app.require_subcommand(1);
  std::vector<Command> commands;
  for (CommandSetup setup : Setups()) commands.push_back(setup(app));
  CheckNumbers(app);
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
