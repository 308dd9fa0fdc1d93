// The run parameters and the results of a run as the Python module holds them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/prepared_run.h"
#include "python/binding.h"
#include "results/map_reading.h"
#include "results/result_tables.h"
#include "results/run_parameters.h"

namespace zuba::python {

// Completed and checked run parameters, with what a machine file adds.
struct ParametersHandle {
  RunParameters run;                  // Path empty: a run takes the path of its map
  std::string mode;                   // the preset's label (empty for a machine file's)
  std::optional<double> gainPerTurn;  // MeV per turn
  std::optional<ClosureMode> closure;
  std::optional<double> tolerance;     // of the precise closure (a machine file's)
  std::optional<std::string> machine;  // the machine file read
  std::optional<std::string> mapPath;  // the machine file's map (resolved), if it names one
  MapReadingOptions mapReading;        // how the machine file reads its map
};

struct RunResult {
  ResultTables tables;
  std::vector<std::string> warnings;  // as zuba-cli prints them
  double gainPerTurn = 0;             // MeV per turn of the values' phase slip
  std::string source;                 // what names the record in refusals: "The run" or the
                                      // document's path, as zuba-cli names them
  // Where a precise run's field is found for orbit_at (see RunOrbitField): the prepared run of a
  // run, the folder of a loaded document.
  SharedRun run;
  std::string documentFolder;
};

// The parameters completed as the Input Data dialog completes them and checked as a run checks
// its quantities; a ParameterError otherwise.
ParametersHandle Completed(ParametersHandle p);

// The gain per turn of a call (MeV): the argument, else the parameters', else the default; a
// TypeError or ValueError naming gain_per_turn.
double GainOf(const py::object& gain, const ParametersHandle& p);

// The precise closure's tolerance of a call: the argument, else the parameters' (a machine
// file's), else the default; a TypeError naming tolerance, or the command line's refusal of
// --tolerance as a ParameterError.
double ToleranceOf(const py::object& tolerance, const ParametersHandle& p);

// The columns of a tab-separated table with a header line: a column of numbers (an empty cell or
// "unstable" read as NaN) as a float64 array, any other as a list of str.
py::dict ColumnsOf(const std::string& text);

// A message as zuba-cli prints it: "Caption: text".
std::string Printed(const Message& message);

struct MapHandle;
// The prepared run of the map and parameters (a ParameterError when refused).
SharedRun Prepared(const MapHandle& map, const ParametersHandle& p);

}  // namespace zuba::python
