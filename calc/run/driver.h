// The calculation run without windows: the command's steps after its dialogs (derive and check the
// run quantities, read the field map, fill the record) and the worker that walks the energies,
// drives the progress bar, obeys the stop request and hands the results over.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "calc/orbits/orbit.h"
#include "calc/orbits/precise_orbit.h"
#include "platform/file_stamp.h"
#include "platform/outcome.h"
#include "platform/progress.h"
#include "results/hand_over.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

namespace zuba {

// What the worker is given: the run constants in SI units, the run description, a copy of the
// field map and the per-energy tables.
struct CalculationRecord {
  int32_t nR = 0, nTheta = 0;                       // radius and azimuth nodes of the field map
  double T0 = 0, TIs = 0, h = 0;                    // rad
  double thetaStart = 0, thetaEnd = 0;              // rad, thetaEnd = thetaStart + 2 pi
  double rfFrequency = 0;                           // Hz
  double charge = 0;                                // C, signed
  double restMass = 0;                              // kg
  int32_t n = 0;                                    // energy steps
  RunParameters run;                                // run description as entered
  FileStamp mapFile;                                // the field map file as it was read
  MapReadingOptions mapReading;                     // how the map was read (format as found)
  std::vector<double> radii, azimuths;              // m, rad
  std::vector<double> field, moments;               // T, T/m^2; radius-major iR * nTheta + iTheta
  std::vector<double> Ek, Rmn, Bmn, Rev, F0, dReo;  // J, m, T, m, Hz, m; per energy
  // Per energy as the run goes: -1 until the energy is done, then its ClosureStatus (the default
  // search: 0 accepted, 1 not accepted, 3 failed) and, where it did not close, why. A run that
  // fails or stops keeps them for the energies it did (those of the run one thread would have
  // made: below the energy at which a run of the default search failed).
  std::vector<int32_t> energyStatus;
  std::vector<std::string> energyReasons;
  int32_t failedEnergy = -1;  // the energy whose failure ended a run of the default search
};

// Derives and checks the run quantities, reads the field map with the reading options and fills
// the record (its contents are replaced only on success). A refusal is that of the map reader or
// of the checks: the nine basic checks are quiet (they name the field at fault without a message
// box of their own).
Outcome PrepareCalculation(const RunParameters& parameters, CalculationRecord& record,
                           const MapReadingOptions& mapReading = {});

enum class WorkerOutcome { Completed, Failed, Stopped };

struct WorkerOptions {
  int threads = 1;                       // energies computed in parallel
  bool referenceField = false;           // the per-call spline evaluation instead of the fast one
  std::function<void()> requestRepaint;  // called after the hand-over into LatestResults
  // Called with every message of the run (a search's notice, the failure that ends the run) in
  // the order one thread would give them, one at a time, from the worker threads; may be empty.
  // The desktop program and the command line show them.
  std::function<void(const Failure&)> report;
  // Called with the energy index and the number of trials when an energy is finished (any
  // thread, one at a time); may be empty.
  std::function<void(int32_t energy, int32_t trials)> energyFinished;
  // How each energy's orbit is closed. The default is the step-and-bisect search on the radius,
  // where a failing energy ends the run. The precise closure (CloseOrbits) always evaluates the
  // field with the fast patches (it needs their derivatives), adds the closure tables (tunes,
  // isochronism, phase slip, status and reason of every energy) to the results, and keeps an
  // energy that does not close in the results without values; one message at the end (through
  // report) names those energies.
  ClosureMode closure = ClosureMode::Standard;
  double gainPerTurnMeV = 0.1;  // MeV per turn, for the phase slip of the closure tables
  // The error bound of each integration step of the precise closure (see precise_orbit.h).
  double tolerance = kDefaultPreciseTolerance;
  // Called after the hand-over of a complete run of the default search with each of its notes in
  // turn: the line that says how uncertain its orbits leave F0 when that is more than
  // kAccuracyNoteThreshold (AccuracyNote), then the line that names the energies whose orbits run
  // below the map's first radius (InnerEdgeNote). May be empty. The desktop program puts them on
  // the status bar, the command line on stderr.
  std::function<void(const std::string&)> accuracyNote;
};

// The step count of a nominal turn that sizes the trial sample tables: round((TIs - T0) / h)
// corrected by repeated addition so that T0 plus nSteps steps of h reaches TIs. 62832 for the
// presets. -1 when (TIs - T0) / h is not a number between 0 and kMaxSampleCapacity.
inline constexpr double kMaxSampleCapacity = 50'000'000;
int64_t SampleCapacity(double T0, double TIs, double h);

// What the worker prepares before the energy loop: spline moments, average-field tables, run
// constants.
struct PreparedRun {
  std::vector<double> radialSteps;      // m, steps of the radius table (serves the field)
  std::vector<double> v, epsilon, psi;  // average-field tables over the radius nodes
  OrbitConstants constants;
  AverageFieldTables tables() const { return {radii, v, epsilon, psi}; }
  std::span<const double> radii;  // m, the record's radius table
};

// Makes the phase table of the N-th harmonic (rad, one entry per radius node) continuous in R by
// adding or taking whole periods 2 pi/N where neighbouring entries differ by more than half a
// period.
void UnwrapHarmonicPhase(std::vector<double>& psi, int32_t N);

// Radial moments of the record's map, average-field tables and run constants. Fails with the
// failure of the operation at fault.
Outcome PrepareRun(CalculationRecord& record, PreparedRun& prepared);

// The worker: radial moments, average-field tables, the energy loop with progress and stop
// request (1 asks it to stop after the energies in flight; it clears the request when it obeys),
// and on completion the hand-over into handOver, then requestRepaint. Energies run on
// options.threads threads; the results do not depend on the thread count.
WorkerOutcome CalculationWorker(CalculationRecord& record, ProgressSink& progress,
                                std::atomic<int32_t>& stopRequested, ResultsHandOver& handOver,
                                const WorkerOptions& options);

}  // namespace zuba
