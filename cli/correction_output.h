// What isochronise and trim-fit share: the run prepared from the command line, and the corrected
// map written as *.sdf and closed again as its reader keeps it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "calc/calculation.h"
#include "cli/run_setup.h"

namespace zuba::cli {

// The run of the setup (preset, --set, the map read with its reading options) prepared in the
// calculation; an exit code other than kExitOk when it was refused (the refusal shown).
int PrepareCorrectionRun(const RunSetup& setup, Calculation& calculation);

// Writes the record's map changed by deltaB (T per radius node) to `output` as *.sdf, then reads
// the written file back and closes every orbit on it: the worst |F0 H / Frf - 1| of the map as
// written (its values kept to 1e-5 T) goes to `afterWritten`. Notes (a resampled azimuth step)
// go to stderr. An exit code other than kExitOk when the map could not be written or read back.
int WriteCorrectedMap(const std::string& output, const CalculationRecord& record,
                      std::span<const double> deltaB, int threads,
                      std::optional<double>& afterWritten);

}  // namespace zuba::cli
