// The run description of the commands that run closed orbits on a map (run, isochronise,
// trim-fit): the preset of --mode, then each --set, completed as the Input Data dialog completes
// it.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "cli/map_reading_cli.h"
#include "results/run_parameters.h"

namespace zuba::cli {

struct RunSetup {
  std::string map;
  std::string mode;  // the label of the preset; the default is the first of the Mode dialog
  std::vector<std::string> sets;
  MapReadingArgs reading;  // how the map file is read
  int threads = 0;         // 0: the machine's hardware threads
};

// Adds --map, the map reading options, --mode, --set and --threads to a command.
void AddRunSetupOptions(CLI::App& app, RunSetup& setup);

// Applies "Name=Value" to the parameters (names of the run-field table that --set may change);
// a usage error otherwise.
void ApplySet(const std::string& assignment, RunParameters& parameters);

// The preset of the mode, the map and every --set, completed as the dialog completes it. Throws a
// UsageError for an unknown label or name or a malformed value; a refused completion is shown and
// gives false.
bool MakeRunParameters(const RunSetup& setup, RunParameters& parameters);

// The thread count of the setup (the hardware threads for 0).
int ThreadsOf(const RunSetup& setup);

}  // namespace zuba::cli
