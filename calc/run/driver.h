// The calculation of a run: every energy of a prepared run, its orbit closed by the standard search
// or the precise closure, with progress and a stop token. A run reads its prepared run and writes
// nothing into it; what it makes comes back by value: the results of a complete run, and the
// notices and failures in the order one thread would have given them. Any number of runs may go on
// at once over one prepared run, each from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/prepared_run.h"
#include "platform/outcome.h"
#include "platform/progress.h"
#include "platform/stop.h"
#include "results/result_tables.h"

namespace zuba {

enum class WorkerOutcome { Completed, Failed, Stopped };

struct WorkerOptions {
  int threads = 1;              // energies computed in parallel
  bool referenceField = false;  // the per-call spline evaluation instead of the fast one
  // Called with the energy index and the number of trials when an energy is finished (any
  // thread, one at a time); may be empty.
  std::function<void(int32_t energy, int32_t trials)> energyFinished;
  // How each energy's orbit is closed. The default is the step-and-bisect search on the radius,
  // where a failing energy ends the run. The precise closure (CloseOrbits) always evaluates the
  // field with the fast patches (it needs their derivatives), adds the closure tables (tunes,
  // isochronism, phase slip, status and reason of every energy) to the results, and keeps an
  // energy that does not close in the results without values; one message at the end names those
  // energies.
  ClosureMode closure = ClosureMode::Standard;
  double gainPerTurnMeV = 0.1;  // MeV per turn, for the phase slip of the closure tables
  // The error bound of each integration step of the precise closure (see precise_orbit.h).
  double tolerance = kDefaultPreciseTolerance;
};

// The precise closure's tolerance as a user gives it in a text (`--tolerance`, the desktop's
// Calculate > Precise Closure Tolerance...): a number of the program's syntax, blanks around it
// allowed, from kMinPreciseTolerance to kMaxPreciseTolerance. Refused with one line: "--tolerance
// TEXT: not a number", or the out-of-range text of CheckPreciseTolerance.
Result<double> ReadPreciseTolerance(const std::string& text);

// What a run gives back.
struct CalculationOutput {
  WorkerOutcome outcome = WorkerOutcome::Failed;
  // The results of a complete run in the table order of the results; empty otherwise.
  ResultTables results;
  // Every message of the run (a search's notice, the failure that ends the run, the summary of
  // the energies a precise run could not close), in the order one thread would give them. The
  // desktop program shows them after the run (a quiet one as a status-bar note), the command line
  // on stderr.
  std::vector<Failure> messages;
  // After a complete run of the default search, each of its notes in turn: the line that says how
  // uncertain its orbits leave F0 when that is more than kAccuracyNoteThreshold (AccuracyNote),
  // then the line that names the energies whose orbits run below the map's first radius
  // (InnerEdgeNote). The desktop program puts them on the status bar, the command line on stderr.
  std::vector<std::string> notes;
  // Per energy as the run went, also when it failed or stopped: -1 for an energy not done, else
  // its ClosureStatus (the default search: 0 accepted, 1 not accepted, 3 failed) and, where it did
  // not close, why. A run that fails keeps those of the run one thread would have made: below the
  // energy at which a run of the default search failed.
  std::vector<int32_t> energyStatus;
  std::vector<std::string> energyReasons;
  int32_t failedEnergy = -1;  // the energy whose failure ended a run of the default search
  // The values of the energies done by a run that failed or stopped (m, T, m, Hz, m; the precise
  // closure's first verdict, kNoValue where it did not close); empty after a complete run, whose
  // values are in its results.
  std::vector<double> Rmn, Bmn, Rev, F0, dReo;
};

// Runs every energy of the prepared run on options.threads threads (the calling one among them):
// the field tables, the energy loop with progress (range 0 .. n, step 1, one step per energy,
// back to 0 at the end or on a stop) and the stop token (read after each energy; the energies in
// flight finish). The results do not depend on the thread count.
CalculationOutput RunCalculation(const PreparedRun& run, const WorkerOptions& options,
                                 ProgressSink& progress, const StopToken& stop = {});

}  // namespace zuba
