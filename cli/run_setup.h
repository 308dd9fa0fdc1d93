// The run description of the commands that run closed orbits on a map (run, isochronise,
// trim-fit): the preset of --mode or the machine file of --machine, then --map, the reading options
// and each --set, completed as the Input Data dialog completes it.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/machine_file.h"
#include "cli/map_reading_cli.h"
#include "results/run_parameters.h"

namespace zuba::cli {

struct RunSetup {
  std::string map;
  std::string mode;     // the label of the preset; the default is the first of the Mode dialog
  std::string machine;  // a machine file in place of the preset
  std::vector<std::string> sets;
  MapReadingArgs reading;  // how the map file is read
  int threads = 0;         // 0: the machine's hardware threads
  std::string tolerance;   // --tolerance as given (empty: the machine file's, else the default)
};

// Adds --map, the map reading options, --mode, --machine, --set, --threads and --tolerance to a
// command.
void AddRunSetupOptions(CLI::App& app, RunSetup& setup);

// Applies "Name=Value" to the parameters (names of the run-field table that --set may change);
// a usage error otherwise.
void ApplySet(const std::string& assignment, RunParameters& parameters);

// Where a run starts: the parameters and reading options of the preset or the machine file with
// the command line's changes, and the machine file read.
struct RunStart {
  RunParameters parameters;
  MapReadingOptions reading;
  std::optional<Machine> machine;
  // The precise closure's tolerance: --tolerance, else the machine file's, else the default.
  double tolerance = kDefaultPreciseTolerance;

  // The command line's value where its option was given, else the machine file's, else the
  // command line's default.
  double GainPerTurn(const CLI::Option* option, double value) const;
  ClosureMode Closure(const CLI::Option* option, ClosureMode value) const;
};

// The preset of the mode or the machine file, the map (--map wins over the machine file's map, and
// is read as the command line's reading options say; the machine file's map is read as the file
// says, with the options given in their place) and every --set, completed as the
// dialog completes it. Throws a UsageError for an unknown label or name, a malformed value or a
// run without a map; a refused machine file, tolerance or completion is shown and gives
// kExitRefused.
int MakeRunStart(const RunSetup& setup, RunStart& start);

// The thread count of the setup (the hardware threads for 0).
int ThreadsOf(const RunSetup& setup);

}  // namespace zuba::cli
