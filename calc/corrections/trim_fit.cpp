// The trim-coil fit (see isochronise.h): the currents that come closest to isochronism within
// their limits.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "calc/corrections/isochronise.h"
#include "calc/corrections/orbits_on_map.h"
#include "numerics/bounded_lsq.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

std::vector<std::vector<double>> CoilNodeFields(const TrimCoils& coils,
                                                std::span<const double> radii) {
  std::vector<std::vector<double>> fields;
  for (int c = 0; c < coils.Count(); ++c) {
    std::vector<double> values;
    for (double R : radii) values.push_back(coils.FieldPerAmpere(c, R));
    fields.push_back(std::move(values));
  }
  return fields;
}

std::vector<double> CoilFieldChange(const TrimCoils& coils, std::span<const double> currents,
                                    std::span<const double> radii) {
  std::vector<double> nodes(radii.size(), 0.0);
  for (int c = 0; c < coils.Count(); ++c)
    for (std::size_t i = 0; i < radii.size(); ++i)
      nodes[i] += currents[c] * coils.FieldPerAmpere(c, radii[i]);
  return nodes;
}

namespace {

std::string Printed(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

std::vector<std::string> TrimFitWarnings(const PreparedRun& record, const TrimFit& fit,
                                         const std::vector<std::string>& coilNames) {
  std::vector<std::string> lines = CorrectionWarnings(record, fit);
  if (fit.conditionNumber > kConditionWarning && fit.alikeFirst >= 0)
    lines.push_back("Warning: the condition number " + Printed("%.3g", fit.conditionNumber) +
                    " is above " + Printed("%g", kConditionWarning) + ": coils " +
                    coilNames[fit.alikeFirst] + " and " + coilNames[fit.alikeSecond] +
                    " act most alike on these orbits (cosine " + Printed("%.6f", fit.alikeCosine) +
                    ")");
  return lines;
}

namespace {

// The quantity the fit minimises at the fitted energies (rows), each times the square root of its
// weight: the isochronism errors, or the RF phase accumulated over every energy with an error.
Eigen::VectorXd Objective(const PreparedRun& record, const std::vector<double>& errors,
                          const std::vector<int>& rows, const std::vector<double>& rootWeights,
                          const TrimFitOptions& options) {
  const std::vector<double> phase = options.target == TrimTarget::Phase
                                        ? RfPhaseOf(record, errors, options.gainPerTurnMeV)
                                        : std::vector<double>{};
  Eigen::VectorXd value(static_cast<Eigen::Index>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const int i = rows[row];
    value[static_cast<Eigen::Index>(row)] =
        rootWeights[i] * (options.target == TrimTarget::Phase ? phase[i] : errors[i]);
  }
  return value;
}

// Whether every listed energy has a closed orbit.
bool AllClosed(const std::vector<EnergyOrbit>& orbits, const std::vector<int>& energies) {
  return std::all_of(energies.begin(), energies.end(), [&](int i) { return orbits[i].closed; });
}

// What a fit holds fixed: the run, the coils, the closer and the options; the coils' fields at
// the map's radii (T/A); the energies closed on the map, the fitted ones among them (the rows of
// the objective) and the square roots of every energy's weight; the coils that reach a fitted
// orbit, the limit of every coil's current (A), and the largest field of the map (T).
struct TrimProblem {
  const PreparedRun& record;
  const TrimCoils& coils;
  const OrbitCloser& close;
  const TrimFitOptions& options;
  std::vector<std::vector<double>> profiles;
  std::vector<int> closedOnMap;
  std::vector<int> rows;
  std::vector<double> rootWeights;
  std::vector<int> active;
  std::vector<double> limits;
  double fieldScale = 0;
};

// Where a fit stands: the currents (A), their orbits and isochronism errors, the objective there.
struct TrimPoint {
  std::vector<double> currents;
  std::vector<EnergyOrbit> orbits;
  std::vector<double> errors;
  Eigen::VectorXd objective;
};

// The map's field with the coils at these currents (A).
std::vector<double> FieldAtCurrents(const TrimProblem& p, const std::vector<double>& currents) {
  return FieldWithMeanChange(p.record, CoilFieldChange(p.coils, currents, p.record.radii));
}

// The fitted energies: those closed on the map that the user has not left out (weight 0, marked
// excluded in out), with the square root of every weight.
Outcome ChooseRows(TrimProblem& p, std::size_t energies, TrimFit& out) {
  p.rootWeights.assign(energies, 1.0);
  for (int i : p.closedOnMap) {
    const double w = p.options.energyWeights.empty() ? 1.0 : p.options.energyWeights[i];
    p.rootWeights[i] = std::sqrt(w);
    if (w > 0)
      p.rows.push_back(i);
    else
      out.excluded[i] = true;
  }
  if (p.rows.empty())
    return ErrorFailure(
        "Every energy with a closed orbit on the map is left out of the fit: nothing to fit.");
  return {};
}

// Coils whose field reaches no fitted orbit (nowhere over their span a millionth of its peak)
// have nothing to say to the fit: they go to out.noEffect, the others are returned.
std::vector<int> ActiveCoils(const TrimProblem& p, const std::vector<EnergyOrbit>& orbits,
                             TrimFit& out) {
  const std::vector<double>& radii = p.record.radii;
  double spanLow = 0, spanHigh = 0;
  OrbitSpan(orbits, p.rows, spanLow, spanHigh);
  const double step = radii[1] - radii[0];
  std::vector<int> active;
  for (int c = 0; c < p.coils.Count(); ++c) {
    double peak = 0, inside = 0;
    for (std::size_t i = 0; i < radii.size(); ++i) {
      peak = std::max(peak, std::fabs(p.profiles[c][i]));
      if (radii[i] >= spanLow - step && radii[i] <= spanHigh + step)
        inside = std::max(inside, std::fabs(p.profiles[c][i]));
    }
    const bool reaches = inside > 1e-6 * peak;
    if (reaches)
      active.push_back(c);
    else
      out.noEffect.push_back(c);
  }
  return active;
}

// The response J of the objective to the current of each active coil, by finite differences:
// the step of a coil is the current that changes the field by about 1e-5 of its largest
// magnitude where the coil is strongest. A probe that loses an orbit is made again with a quarter
// of the step, twice; an orbit still lost then leaves its energy out of this iteration (rowLost)
// rather than give a derivative from an orbit that is not there.
Result<Closing> MeasureResponse(const TrimProblem& p, const TrimPoint& at, Eigen::MatrixXd& J,
                                std::vector<bool>& rowLost, TrimFit& out) {
  rowLost.assign(p.rows.size(), false);
  for (Eigen::Index a = 0; a < J.cols(); ++a) {
    const int c = p.active[static_cast<std::size_t>(a)];
    double peak = 0;
    for (double g : p.profiles[c]) peak = std::max(peak, std::fabs(g));
    double dI = 1e-5 * p.fieldScale / peak;
    std::vector<EnergyOrbit> moved;
    for (int attempt = 0;; ++attempt) {
      std::vector<double> shifted = at.currents;
      shifted[c] += dI;
      moved = at.orbits;
      const Result<Closing> closing = p.close(FieldAtCurrents(p, shifted), moved);
      if (!closing) return closing.failure();
      if (*closing == Closing::Stopped) return Closing::Stopped;
      if (AllClosed(moved, p.closedOnMap) || attempt == 2) break;
      dI /= 4;
    }
    std::vector<double> probed = IsochronismOf(p.record, moved);
    for (int i : p.closedOnMap) {
      if (moved[i].closed) continue;
      probed[i] = at.errors[i];  // the RF phase runs on through it as it was
      out.lostInIterationMeV.push_back(JoulesToMeV(p.record.Ek[i]));
      for (std::size_t row = 0; row < p.rows.size(); ++row)
        if (p.rows[row] == i) rowLost[row] = true;
    }
    J.col(a) = (Objective(p.record, probed, p.rows, p.rootWeights, p.options) - at.objective) / dI;
  }
  return Closing::Closed;
}

// The step of the active coils' currents from the rows measured with their orbits: bounded least
// squares within the limits. Notes the response's condition and its two most alike coils in out.
BoundedLeastSquares SolveStep(const TrimProblem& p, const TrimPoint& at, const Eigen::MatrixXd& J,
                              const std::vector<bool>& rowLost, TrimFit& out) {
  const std::vector<int>& active = p.active;
  const std::vector<double>& limits = p.limits;
  const std::vector<double>& currents = at.currents;
  const Eigen::Index A = J.cols();
  std::vector<Eigen::Index> kept;
  for (std::size_t row = 0; row < p.rows.size(); ++row)
    if (!rowLost[row]) kept.push_back(static_cast<Eigen::Index>(row));
  Eigen::MatrixXd Jk(static_cast<Eigen::Index>(kept.size()), A);
  Eigen::VectorXd objectiveK(static_cast<Eigen::Index>(kept.size()));
  for (std::size_t k = 0; k < kept.size(); ++k) {
    Jk.row(static_cast<Eigen::Index>(k)) = J.row(kept[k]);
    objectiveK[static_cast<Eigen::Index>(k)] = at.objective[kept[k]];
  }
  Eigen::VectorXd lower(A), upper(A);
  for (Eigen::Index a = 0; a < A; ++a) {
    const int c = active[static_cast<std::size_t>(a)];
    lower[a] = -limits[c] - currents[c];
    upper[a] = limits[c] - currents[c];
  }
  out.conditionNumber = ScaledConditionNumber(Jk);
  const AlikeColumns alike = MostAlikeColumns(Jk);
  if (alike.first >= 0) {
    out.alikeFirst = active[static_cast<std::size_t>(alike.first)];
    out.alikeSecond = active[static_cast<std::size_t>(alike.second)];
    out.alikeCosine = alike.cosine;
  }
  return SolveBoundedLeastSquares(Jk, -objectiveK, lower, upper);
}

// Takes the step, halved while it does not lower the sum of squares (the response is linear only
// near the orbits it was taken on); a step that loses an orbit closed on the map is not taken.
// improved: a step was taken and lowered the sum of squares by more than a thousandth of it.
Result<Closing> TakeStep(const TrimProblem& p, const Eigen::VectorXd& step, TrimPoint& at,
                         bool& improved) {
  const std::vector<int>& closedOnMap = p.closedOnMap;
  for (double scale = 1; scale > 1.0 / 16; scale /= 2) {
    std::vector<double> trial = at.currents;
    for (Eigen::Index a = 0; a < step.size(); ++a)
      trial[p.active[static_cast<std::size_t>(a)]] += scale * step[a];
    std::vector<EnergyOrbit> moved = at.orbits;
    const Result<Closing> closing = p.close(FieldAtCurrents(p, trial), moved);
    if (!closing) return closing.failure();
    if (*closing == Closing::Stopped) return Closing::Stopped;
    if (!AllClosed(moved, closedOnMap)) continue;
    std::vector<double> trialErrors = IsochronismOf(p.record, moved);
    const Eigen::VectorXd value =
        Objective(p.record, trialErrors, p.rows, p.rootWeights, p.options);
    if (value.squaredNorm() < at.objective.squaredNorm()) {
      const double gain = 1 - value.squaredNorm() / at.objective.squaredNorm();
      at.currents = trial;
      at.orbits = std::move(moved);
      at.errors = std::move(trialErrors);
      at.objective = value;
      improved = gain > 1e-3;
      break;
    }
  }
  return Closing::Closed;
}

// The iterations of the fit from `at` on: until the worst fitted error is within the tolerance,
// the iteration limit, a stop, or no progress. The response is measured once and again only when
// a step taken with it fails to lower the sum of squares: near the answer it hardly changes, and
// each measurement closes every orbit once per coil.
Result<CorrectionTermination> Iterate(const TrimProblem& p, TrimPoint& at, TrimFit& out) {
  Eigen::MatrixXd J(at.objective.size(), static_cast<Eigen::Index>(p.active.size()));
  // Rows of J measured without their orbit: left out of the steps taken with this J.
  std::vector<bool> rowLost(p.rows.size(), false);
  bool fresh = false;
  for (;;) {
    if (WorstOf(at.errors, p.rows) <= p.options.tolerance) return CorrectionTermination::Converged;
    if (out.iterations >= p.options.maxIterations) return CorrectionTermination::IterationLimit;
    if (p.active.empty()) return CorrectionTermination::NoProgress;
    if (!fresh) {
      const Result<Closing> measured = MeasureResponse(p, at, J, rowLost, out);
      if (!measured) return measured.outcome();
      if (*measured == Closing::Stopped) return CorrectionTermination::Stopped;
    }
    const bool measuredNow = !fresh;
    fresh = true;
    const BoundedLeastSquares solved = SolveStep(p, at, J, rowLost, out);
    ++out.iterations;
    bool improved = false;
    const Result<Closing> taken = TakeStep(p, solved.x, at, improved);
    if (!taken) return taken.outcome();
    if (*taken == Closing::Stopped) return CorrectionTermination::Stopped;
    if (p.options.iterationDone)
      p.options.iterationDone(out.iterations, WorstOf(at.errors, p.rows));
    if (!improved) {
      // A response measured here did not help either: no progress; else measure the response
      // again where the orbits are now.
      if (measuredNow) return CorrectionTermination::NoProgress;
      fresh = false;
    }
  }
}

}  // namespace

Result<TrimFit> FitTrimCoils(const PreparedRun& record, const TrimCoils& coils,
                             const OrbitCloser& close, const TrimFitOptions& options) {
  TrimFit out;
  const int K = coils.Count();
  out.currents.assign(static_cast<std::size_t>(K), 0.0);
  TrimProblem p{record, coils, close, options, CoilNodeFields(coils, record.radii),
                {},     {},    {},    {},      {}};

  Result<OrbitsOnMap> start = CloseOnMap(record, close, "fit");
  if (!start) return start.outcome();
  StartOutcome(*start, options.tolerance, out);
  TrimPoint at;
  at.orbits = std::move(start->orbits);
  // Every energy closed on the map must stay closed at the currents taken (the RF phase runs
  // through them all); the fitted ones are those the user has not left out.
  p.closedOnMap = std::move(start->energies);
  if (Outcome rows = ChooseRows(p, at.orbits.size(), out); !rows) return rows;
  p.active = ActiveCoils(p, at.orbits, out);
  p.limits.assign(static_cast<std::size_t>(K), kInfinity);
  for (int c = 0; c < K && c < static_cast<int>(options.limits.size()); ++c)
    p.limits[c] = options.limits[c];
  for (double b : record.field) p.fieldScale = std::max(p.fieldScale, std::fabs(b));

  at.errors = out.errorBefore;
  at.objective = Objective(record, at.errors, p.rows, p.rootWeights, options);
  at.currents = out.currents;
  const Result<CorrectionTermination> termination = Iterate(p, at, out);
  if (!termination) return termination.outcome();
  out.termination = *termination;
  const std::vector<double>& currents = at.currents;
  const std::vector<double>& limits = p.limits;
  out.currents = currents;
  EndOutcome(record, at.errors, options.gainPerTurnMeV, out);
  for (int c : p.active)
    if (std::isfinite(limits[c]) && std::fabs(currents[c]) >= limits[c] * (1 - 1e-9))
      out.atLimit.push_back(c);
  return out;
}

}  // namespace zuba
