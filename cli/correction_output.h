// What isochronise and trim-fit share: the run prepared from the command line, and the corrected
// map written as *.sdf and closed again as its reader keeps it.
#pragma once

#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "calc/corrections/isochronise.h"
#include "calc/run/prepared_run.h"
#include "cli/run_setup.h"
#include "platform/stop.h"

namespace zuba::cli {

// The run a correction is searched for: the setup's run prepared (preset or machine file, --set,
// the map read with its reading options) and the precise closer of its energies on the setup's
// threads, which Ctrl+C stops after the energies in flight (a second Ctrl+C ends the program at
// once).
struct CorrectionRun {
  SharedRun run;   // the prepared run, shared by every closing of its orbits
  RunStart start;  // the parameters as prepared, and the machine file's when one was given
  int threads = 1;
  StopSource stop;  // what Ctrl+C asks

  CorrectionRun();
  ~CorrectionRun();
  CorrectionRun(const CorrectionRun&) = delete;
  CorrectionRun& operator=(const CorrectionRun&) = delete;

  // kExitOk, or the exit code of the refusal (shown).
  int Prepare(const RunSetup& setup);
  const PreparedRun& Record() const { return *run; }
  OrbitCloser Closer() const {
    return PreciseOrbitCloser(run, threads, stop.Token(), start.tolerance);
  }
};

// What both commands' JSON adds after its own members: converged, target, termination, residuals
// (per energy of the run: Ek_MeV, isochronism_before, isochronism_after, excluded; null where no
// orbit closed), lost_in_iteration (MeV) and the tolerance of the precise closure its orbits
// were closed to.
void AddOutcomeJson(nlohmann::ordered_json& out, const PreparedRun& record,
                    const CorrectionOutcome& outcome, double tolerance);

// The warning lines on stderr.
void PrintWarnings(const std::vector<std::string>& lines);

// A search stopped by Ctrl+C, after what it reached was printed: says so; its exit code.
int SearchStopped(const CorrectionOutcome& outcome);

// Shows the message of a search that failed (no energy closed on the map); its exit code.
int SearchFailed(const Outcome& outcome);

// Writes the record's map changed by deltaB (T per radius node) to `output` as *.sdf, then reads
// the written file back and closes every orbit on it (to the closure's `tolerance`): the worst |F0
// H / Frf - 1| of the map as written (its values kept to 1e-5 T) goes to `afterWritten`. Notes (a
// resampled azimuth step) go to stderr. An exit code other than kExitOk when the map could not be
// written or read back.
int WriteCorrectedMap(const std::string& output, const PreparedRun& record,
                      std::span<const double> deltaB, int threads, double tolerance,
                      std::optional<double>& afterWritten);

}  // namespace zuba::cli
