// What `zuba-cli orbits` and `zuba-cli run --orbits` share: the closed orbits of a record at an
// azimuth (and on a grid) as a table or as JSON, on stdout or written whole into a file.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "calc/run/orbit_coordinates.h"
#include "results/result_tables.h"

namespace zuba::cli {

// Adds --theta and --grid (with the prefix, "--orbits-theta" for the run command) to a command.
void AddOrbitRequestOptions(CLI::App& app, const std::string& prefix, OrbitRequest& request);

// The orbits of the record as JSON: {"theta_deg", "grid_deg", "energies": [...]}.
std::string OrbitCoordinatesJson(const OrbitCoordinates& orbits);

// Writes the orbits of the record (the table, or JSON) to output, or to stdout when output is
// empty. A refusal (the request, a record without closed orbits, a file that cannot be written)
// is shown as one line naming `source` or the output file; the exit code. With the run's field
// (see RunOrbitField) a precise run's orbits are followed from their samples; fieldNote says why
// there is none (shown before the warning of samples too far apart to interpolate, if any).
int WriteOrbits(const ResultTables& results, const OrbitRequest& request, bool json,
                const std::string& output, const std::string& source,
                const RunOrbitField* field = nullptr, const std::string& fieldNote = {});

}  // namespace zuba::cli
