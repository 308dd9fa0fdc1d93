// Machine files: the operating mode of one's own machine in one JSON file, in place of a preset
// and a row of --set changes. A machine file holds
//   {"name": "...",
//    "fields": {"ParticleName": "p", "m0": 1.007276466812, "Q": 1, "ChargeSign": 0,
//               "Frf": 50.65, "H": 6, "N": 8, "EkBegin": 72, "EkEnd": 590, "dEk": 2, "h": 1e-4},
//    "gain_per_turn_mev": 2.5, "closure": "precise", "tolerance": 1e-9,
//    "map": {"path": "ring.sdf", "format": "auto", "replicate": 8, "mirror": false,
//            "negate": false, "reverse": false}}
// with the run fields by the names --set takes (ParticleName, m0, Q, Frf, H, N, EkBegin, EkEnd and
// dEk required; ChargeSign 0 and h 1e-4 rad unless given), the map's path relative to the file's
// folder, and the rest optional.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "platform/outcome.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

namespace zuba {

struct Machine {
  std::string name;
  // The run fields over T0 = 0, TIs = 2 pi; Path is the map's path as resolved (empty without a
  // map).
  RunParameters run;
  std::optional<double> gainPerTurnMeV;  // MeV per turn
  std::optional<ClosureMode> closure;
  std::optional<double> tolerance;  // of the precise closure (see precise_orbit.h)
  bool hasMap = false;
  std::string mapPath;  // as written in the file (relative to its folder, or absolute)
  MapReadingOptions mapReading;
};

// The machine of a file's text; path names the file in refusals and its folder is where a relative
// map path starts. Refused, with one line naming the file and the field: text that is not a JSON
// object, an unknown field name, a field of the wrong type or outside its range, a required run
// field missing, a map path that names no file.
Result<Machine> ParseMachine(std::string_view text, const std::string& path);

// The same from the file.
Result<Machine> ReadMachineFile(const std::string& path);

// The text of a machine file (two-space indented JSON); the map path is written as it stands in
// machine.mapPath.
std::string MachineFileText(const Machine& machine);

// The machine of a run's record: its name, its run fields, the closure, gain per turn and
// tolerance (each when given), and, when mapPath is not empty, the map read as the record says.
Machine MachineOfRun(const std::string& name, const RunParameters& run,
                     std::optional<ClosureMode> closure, std::optional<double> gainPerTurnMeV,
                     std::optional<double> tolerance, const std::string& mapPath,
                     const MapReadingOptions& mapReading);

// The folder of the user's machine files: $XDG_CONFIG_HOME/zuba/machines, else
// $HOME/.config/zuba/machines (empty when neither is set).
std::string UserMachineFolder();

// The machine files (*.json) of a folder that read as machine files, sorted by name; files that
// do not read are left out, each with its refusal in `refused` (when given).
struct MachineEntry {
  std::string name;
  std::string path;
};
std::vector<MachineEntry> ListMachineFiles(const std::string& folder,
                                           std::vector<std::string>* refused = nullptr);

// A path as written in a machine file beside `file`: relative to the file's folder when both lie
// under one root, else absolute.
std::string PathRelativeToFile(const std::string& target, const std::string& file);

}  // namespace zuba
