// What isochronise and trim-fit share: the run prepared from the command line, and the corrected
// map written as *.sdf and closed again as its reader keeps it.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "calc/corrections/isochronise.h"
#include "calc/run/calculation.h"
#include "cli/run_setup.h"
#include "results/hand_over.h"

namespace zuba::cli {

// The run a correction is searched for: the setup's run prepared (preset, --set, the map read
// with its reading options) and the precise closer of its energies on the setup's threads.
struct CorrectionRun {
  ResultsHandOver handOver;
  Calculation calculation{handOver};
  int threads = 1;

  // kExitOk, or the exit code of the refusal (shown).
  int Prepare(const RunSetup& setup);
  const CalculationRecord& Record() const { return calculation.Record(); }
  OrbitCloser Closer() const { return PreciseOrbitCloser(Record(), threads); }
};

// Shows the message of a search that failed (no energy closed on the map); its exit code.
int SearchFailed(const Outcome& outcome);

// Writes the record's map changed by deltaB (T per radius node) to `output` as *.sdf, then reads
// the written file back and closes every orbit on it: the worst |F0 H / Frf - 1| of the map as
// written (its values kept to 1e-5 T) goes to `afterWritten`. Notes (a resampled azimuth step)
// go to stderr. An exit code other than kExitOk when the map could not be written or read back.
int WriteCorrectedMap(const std::string& output, const CalculationRecord& record,
                      std::span<const double> deltaB, int threads,
                      std::optional<double>& afterWritten);

}  // namespace zuba::cli
