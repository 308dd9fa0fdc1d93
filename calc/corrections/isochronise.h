// From diagnosis to correction: the azimuthally uniform change of the mean field ΔB̄(R) that makes
// the precise closed orbit of every energy of a run revolve at Frf / H, and the currents of
// circular trim coils that come closest to it. Both iterate, because the orbits move with the
// field: a linear response of F0 to the change, a least-squares step, and every orbit closed again
// on the changed field, each started from its orbit of the step before.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "calc/maps/coil_table.h"
#include "calc/maps/sdf_writer.h"
#include "calc/run/prepared_run.h"
#include "numerics/radial_weights.h"
#include "platform/outcome.h"
#include "platform/stop.h"

namespace zuba {

// The closed orbit of one energy on the current field.
struct EnergyOrbit {
  bool closed = false;
  std::string reason;                  // why it did not close
  double F0 = 0;                       // Hz
  double Rmn = 0;                      // m, time-mean radius
  double Bmn = 0;                      // T, time-mean field
  bool seeded = false;                 // Rs, vRs, thetaS hold the start of an earlier closed orbit
  double Rs = 0, vRs = 0, thetaS = 0;  // m, m/rad, rad
  std::vector<double> tau, R;          // rad, m: the turn, every few integration steps and its end
};

// How a call of a closer ended: every energy tried, or stopped on request before that (the
// orbits are then not to be used).
enum class Closing { Closed, Stopped };

// Closes the orbit of every energy of the run on the field values `field` (T, the map's mesh,
// radius-major), starting each from its earlier orbit where it is seeded; writes the orbits.
using OrbitCloser =
    std::function<Result<Closing>(std::span<const double> field, std::vector<EnergyOrbit>& orbits)>;

// The closer of the precise closure for the prepared run (its mesh, energies and ion), on
// `threads` threads, integrating to `tolerance` (see precise_orbit.h); the same orbits for any
// thread count. The run is shared, never copied: each call makes the tables of its field beside
// it. A stop ends a call after the energies in flight (Closing::Stopped), which the searches turn
// into CorrectionTermination::Stopped.
OrbitCloser PreciseOrbitCloser(SharedRun run, int threads, StopToken stop = {},
                               double tolerance = kDefaultPreciseTolerance);

// The quiet failure of a search stopped before its first step.
inline constexpr const char* kStoppedText = "Stopped.";

// Called after each iteration with its number and the worst |F0 H / Frf - 1| it left (from the
// thread that runs the search); may be empty.
using IterationDone = std::function<void(int iteration, double worst)>;

inline constexpr double kDefaultIsochronismTarget = 2e-7;

// How a search ended.
enum class CorrectionTermination {
  Converged,       // the worst |F0 H / Frf - 1| reached the target
  IterationLimit,  // the iterations allowed were made
  NoProgress,      // further steps did not improve the fit
  Stopped,         // stopped on request
};
// "converged", "iteration_limit", "no_progress", "stopped".
const char* TerminationName(CorrectionTermination termination);

struct IsochroniseOptions {
  double tolerance = kDefaultIsochronismTarget;  // worst |F0 H / Frf - 1| the search aims at
  int maxIterations = 40;
  double gainPerTurnMeV = 0.1;  // for the RF phase
  IterationDone iterationDone;
};

// Per energy of the run: the isochronism error F0 H / Frf - 1 (kNoValue where the orbit did not
// close).
std::vector<double> IsochronismOf(const PreparedRun& record,
                                  const std::vector<EnergyOrbit>& orbits);

// The RF phase (degrees) at every energy from the isochronism errors, accumulated in energy order
// from 0 at the first closed energy: each step of dEk takes dEk / gain turns, each slipping by
// 360 (Frf / F0 - H) at the last closed energy. kNoValue where the error is.
std::vector<double> RfPhaseOf(const PreparedRun& record, const std::vector<double>& errors,
                              double gainPerTurnMeV);

// The largest magnitude of the values that are not kNoValue (0 when none).
double LargestMagnitude(const std::vector<double>& values);

// The isochronism errors of the precise closed orbits on the run's own field.
Result<std::vector<double>> IsochronismOnMap(const SharedRun& run, int threads,
                                             double tolerance = kDefaultPreciseTolerance);

// What both searches report, per energy of the run and over all of them.
struct CorrectionOutcome {
  CorrectionTermination termination = CorrectionTermination::NoProgress;
  double target = kDefaultIsochronismTarget;    // worst |F0 H / Frf - 1| aimed at
  std::vector<double> errorBefore, errorAfter;  // F0 H / Frf - 1 per energy, kNoValue: not closed
  std::vector<double> phaseBefore, phaseAfter;  // RF phase per energy (degrees)
  std::vector<bool> excluded;  // per energy: not closed on the map, or left out by the user
  std::vector<double> excludedEnergiesMeV;       // the excluded energies
  std::vector<double> unclosedEnergiesMeV;       // those without a closed orbit on the map
  std::vector<double> lostInIterationMeV;        // left out of an iteration: the orbit was lost
  double isochronismBefore = 0;                  // worst |F0 H / Frf - 1| on the map as read
  double isochronismAfter = 0;                   // the same at the result (unrounded field)
  double phaseDegBefore = 0, phaseDegAfter = 0;  // largest |RF phase| (degrees)
  int iterations = 0;                            // steps made

  bool converged() const { return termination == CorrectionTermination::Converged; }
};

// The lines that say what a result did not reach (one line each, "Warning: ..."): the target not
// reached (naming the worst energy and its residual), an RF phase slip that grew, energies whose
// orbit was lost during the search.
std::vector<std::string> CorrectionWarnings(const PreparedRun& record,
                                            const CorrectionOutcome& outcome);

struct MeanFieldCorrection : CorrectionOutcome {
  std::vector<double> radii;         // m, the map's radius nodes
  std::vector<double> deltaB;        // T, the correction at each node (the same at every azimuth)
  double spanLow = 0, spanHigh = 0;  // m, the radial span of the closed orbits
  std::vector<double> knots;         // m, the knots of the correction's cubic spline
  double smoothing = 0;  // the curvature weight of the last step, relative (see bounded_lsq.h)
};

// The size and the smoothness of a correction: the largest |ΔB̄| at any node, and over the orbits'
// span (the radius nodes within it) the total variation Σ |ΔB̄(j+1) - ΔB̄(j)| and the range
// max - min (T).
struct CorrectionShape {
  double largest = 0, totalVariation = 0, range = 0;
};
CorrectionShape ShapeOf(const MeanFieldCorrection& correction);

// The correction ΔB̄(R) of the record's map: a natural cubic spline whose knots are the radius
// nodes one beyond each end of the orbits' span and, between them, the orbits' mean radii no closer
// than two radius steps; each step its smoothing chosen by cross-validation that predicts each
// orbit from the orbits sharing no radius node with it (see docs/ISOCHRONISE.md). Nodes beyond the knots take the correction of the end knot (held constant
// outwards; the map's radial spline joins them smoothly). The best iterate is kept; a stop during
// the iterations ends with it (CorrectionTermination::Stopped). Fails when no energy closes on the
// map or the search is stopped before its first step.
Result<MeanFieldCorrection> FindIsochronousCorrection(const PreparedRun& record,
                                                      const OrbitCloser& close,
                                                      const IsochroniseOptions& options = {});

// The record's field with node values changed by deltaB (T per radius node, every azimuth).
std::vector<double> FieldWithMeanChange(const PreparedRun& record, std::span<const double> deltaB);

// The record's map with its node values changed by deltaB (T per radius node, every azimuth) as
// *.sdf text, in the unit of the map file (Gs for one that is in neither Gs nor T), the values
// written to 1e-5 T. A map whose azimuth step has no three-decimal form is resampled onto the
// nearest step that has one (the conversion says so and by how much it changed the field).
Result<SdfConversion> CorrectedMapSdf(const PreparedRun& record, std::span<const double> deltaB);

// The field per ampere of every coil at the record's radius nodes (T/A), coil after coil.
std::vector<std::vector<double>> CoilNodeFields(const TrimCoils& coils,
                                                std::span<const double> radii);

// The change of the mean field (T per radius node) made by the coils at the given currents (A).
std::vector<double> CoilFieldChange(const TrimCoils& coils, std::span<const double> currents,
                                    std::span<const double> radii);

enum class TrimTarget { Isochronism, Phase };

struct TrimFitOptions {
  std::vector<double> limits;  // A, |I| bound per coil; +infinity for none (default: none)
  TrimTarget target = TrimTarget::Isochronism;
  double gainPerTurnMeV = 0.1;  // for the RF phase
  int maxIterations = 8;
  double tolerance = kDefaultIsochronismTarget;  // worst |F0 H / Frf - 1| at which the fit stops
  // Per energy of the run, the weight of its square in the sum (0: left out); empty: all 1.
  std::vector<double> energyWeights;
  IterationDone iterationDone;  // the worst |F0 H / Frf - 1| after each iteration
};

struct TrimFit : CorrectionOutcome {
  std::vector<double> currents;           // A, per coil
  double conditionNumber = 0;             // of the response matrix, columns scaled to unit length
  int alikeFirst = -1, alikeSecond = -1;  // the coils whose response columns are most alike
  double alikeCosine = 0;                 // the cosine between those columns
  std::vector<int> atLimit;               // coils whose current sits at its limit
  std::vector<int> noEffect;              // coils whose field reaches no closed orbit (left out)
};

inline constexpr double kConditionWarning = 1e3;

// CorrectionWarnings, and a condition number above kConditionWarning naming the two coils whose
// columns are most alike.
std::vector<std::string> TrimFitWarnings(const PreparedRun& record, const TrimFit& fit,
                                         const std::vector<std::string>& coilNames);

// Energy ranges (MeV, both ends included) to leave out of a fit or to weight.
struct EnergyRange {
  double low = 0, high = 0;
};
struct EnergyWeight {
  EnergyRange range;
  double weight = 1;
};
// The weight per energy of the record's run: 1, then each weighted range's weight (the later wins),
// then 0 in every excluded range. Refused, naming it: a range whose low end is above its high
// end, a weight that is not above 0, exclusions that leave no energy of the run.
Result<std::vector<double>> EnergyWeightsOf(const PreparedRun& record,
                                            const std::vector<EnergyRange>& exclude,
                                            const std::vector<EnergyWeight>& weights);

// The currents that minimise the weighted sum of squares of the target (isochronism error or RF
// phase) over the energies that close and are not left out, within the limits. The response is
// measured by finite differences; an energy whose orbit a probe loses is probed again with a
// quarter of the step, twice, and else left out of that iteration (lostInIterationMeV). Fails when
// no energy closes on the map (or none is left), or the search is stopped before its first step.
Result<TrimFit> FitTrimCoils(const PreparedRun& record, const TrimCoils& coils,
                             const OrbitCloser& close, const TrimFitOptions& options);

}  // namespace zuba
