// The run description of the commands that run closed orbits (see run_setup.h).
#include "cli/run_setup.h"

#include <algorithm>
#include <thread>

#include "calc/orbits/orbit.h"
#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "cli/command.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "platform/threads.h"
#include "results/run_completion.h"
#include "results/run_fields.h"
#include "results/text.h"

namespace zuba::cli {

void AddRunSetupOptions(CLI::App& app, RunSetup& setup) {
  if (setup.mode.empty()) setup.mode = kModeTvk310;
  app.add_option("--map", setup.map, std::string(kMapFileHelp) + " (default: the machine file's)");
  AddMapReadingOptions(&app, setup.reading);
  CLI::Option* mode =
      app.add_option("--mode", setup.mode,
                     "Operating mode whose preset starts the run: \"TVK-310: p\" or \"AVF: 14N5\"")
          ->capture_default_str();
  app.add_option("--machine", setup.machine,
                 "Machine file (JSON) whose fields, map and closure start the run, in place of "
                 "--mode")
      ->excludes(mode);
  app.add_option(
         "--set", setup.sets,
         "Change one run parameter, Name=Value (" + SettableRunFieldNames() + "); may be repeated")
      ->allow_extra_args(false);
  app.add_option("--threads", setup.threads,
                 "Energies computed in parallel (default: the machine's hardware threads)")
      ->check(CLI::Range(1, 1024));
  app.add_option("--tolerance", setup.tolerance,
                 "Error bound of each integration step of the precise closure, relative to the "
                 "orbit's radius and speed, from 1e-14 to 1e-4 (default: the machine file's, "
                 "else " +
                     FormatNumber(kDefaultPreciseTolerance) + ")");
}

void ApplySet(const std::string& assignment, RunParameters& p) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos)
    throw UsageError{"--set needs Name=Value, not \"" + assignment + "\""};
  const std::string name = TrimSpace(assignment.substr(0, eq));
  const RunField* field = FindRunField(name);
  if (field == nullptr || !field->settable())
    throw UsageError{"--set: unknown name \"" + name + "\"; the names are " +
                     SettableRunFieldNames()};
  const Outcome set = SetRunField(*field, assignment.substr(eq + 1), p);
  if (!set) throw UsageError{"--set " + name + ": " + set.message().text};
}

double RunStart::GainPerTurn(const CLI::Option* option, double value) const {
  const bool given = option != nullptr && option->count() > 0;
  return !given && machine && machine->gainPerTurnMeV ? *machine->gainPerTurnMeV : value;
}

ClosureMode RunStart::Closure(const CLI::Option* option, ClosureMode value) const {
  const bool given = option != nullptr && option->count() > 0;
  return !given && machine && machine->closure ? *machine->closure : value;
}

int MakeRunStart(const RunSetup& setup, RunStart& start) {
  RunParameters& p = start.parameters;
  if (!setup.machine.empty()) {
    Result<Machine> machine = ReadMachineFile(setup.machine);
    if (!machine) return Refused(machine.outcome());
    start.machine = std::move(*machine);
    p = start.machine->run;
    start.reading = setup.reading.Over(start.machine->mapReading);
  } else {
    if (!ApplyPreset(setup.mode, p))
      throw UsageError{"--mode: unknown label \"" + setup.mode + "\"; the labels are \"" +
                       kModeTvk310 + "\" and \"" + kModeAvf14N5 + "\""};
    start.reading = setup.reading.Options();
  }
  if (!setup.map.empty()) {
    // Another map than the machine file's: read as the command line says.
    p.Path = setup.map;
    start.reading = setup.reading.Options();
  }
  if (!setup.tolerance.empty()) {
    const Result<double> tolerance = ReadPreciseTolerance(setup.tolerance);
    if (!tolerance) return Refused(tolerance.outcome());
    start.tolerance = *tolerance;
  } else if (start.machine && start.machine->tolerance) {
    start.tolerance = *start.machine->tolerance;
  }
  if (p.Path.empty())
    throw UsageError{setup.machine.empty() ? "--map is required"
                                           : "--map is required: the machine file " +
                                                 setup.machine + " names no map"};
  for (const std::string& assignment : setup.sets) ApplySet(assignment, p);
  // What the Input Data dialog does when it closes with Enter.
  if (const Outcome completion = CompleteRunParameters(p); !completion) {
    ShowMessage(completion.message());
    return kExitRefused;
  }
  return kExitOk;
}

int ThreadsOf(const RunSetup& setup) {
  return setup.threads > 0 ? setup.threads : HardwareThreads();
}

}  // namespace zuba::cli
