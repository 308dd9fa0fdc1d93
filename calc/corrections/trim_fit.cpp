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

}  // namespace

Result<TrimFit> FitTrimCoils(const PreparedRun& record, const TrimCoils& coils,
                             const OrbitCloser& close, const TrimFitOptions& options) {
  TrimFit out;
  const int K = coils.Count();
  out.currents.assign(static_cast<std::size_t>(K), 0.0);
  const std::vector<std::vector<double>> profiles = CoilNodeFields(coils, record.radii);
  auto fieldOf = [&](const std::vector<double>& currents) {
    return FieldWithMeanChange(record, CoilFieldChange(coils, currents, record.radii));
  };

  Result<OrbitsOnMap> start = CloseOnMap(record, close, "fit");
  if (!start) return start.outcome();
  StartOutcome(*start, options.tolerance, out);
  std::vector<EnergyOrbit> orbits = std::move(start->orbits);
  // Every energy closed on the map must stay closed at the currents taken (the RF phase runs
  // through them all); the fitted ones are those the user has not left out.
  const std::vector<int> closedOnMap = std::move(start->energies);
  std::vector<double> rootWeights(orbits.size(), 1.0);
  std::vector<int> rows;
  for (int i : closedOnMap) {
    const double w = options.energyWeights.empty() ? 1.0 : options.energyWeights[i];
    rootWeights[i] = std::sqrt(w);
    if (w > 0)
      rows.push_back(i);
    else
      out.excluded[i] = true;
  }
  if (rows.empty())
    return ErrorFailure(
        "Every energy with a closed orbit on the map is left out of the fit: nothing to fit.");

  // Coils whose field reaches no fitted orbit (nowhere over their span a millionth of its peak)
  // have nothing to say to the fit.
  double spanLow = 0, spanHigh = 0;
  OrbitSpan(orbits, rows, spanLow, spanHigh);
  const double step = record.radii[1] - record.radii[0];
  std::vector<int> active;
  for (int c = 0; c < K; ++c) {
    double peak = 0, inside = 0;
    for (std::size_t i = 0; i < record.radii.size(); ++i) {
      peak = std::max(peak, std::fabs(profiles[c][i]));
      if (record.radii[i] >= spanLow - step && record.radii[i] <= spanHigh + step)
        inside = std::max(inside, std::fabs(profiles[c][i]));
    }
    const bool reaches = inside > 1e-6 * peak;
    if (reaches)
      active.push_back(c);
    else
      out.noEffect.push_back(c);
  }
  std::vector<double> limits(static_cast<std::size_t>(K), kInfinity);
  for (int c = 0; c < K && c < static_cast<int>(options.limits.size()); ++c)
    limits[c] = options.limits[c];

  // The finite-difference step of each coil: the current that changes the field by about 1e-5 of
  // its largest magnitude where the coil is strongest.
  double fieldScale = 0;
  for (double b : record.field) fieldScale = std::max(fieldScale, std::fabs(b));
  std::vector<double> errors = out.errorBefore;
  Eigen::VectorXd objective = Objective(record, errors, rows, rootWeights, options);
  std::vector<double> currents = out.currents;
  const Eigen::Index A = static_cast<Eigen::Index>(active.size());
  Eigen::MatrixXd J(objective.size(), A);
  // Rows of J measured without their orbit: left out of the steps taken with this J.
  std::vector<bool> rowLost(rows.size(), false);
  // The response is measured once and again only when a step taken with it fails to lower the
  // sum of squares: near the answer it hardly changes, and each measurement closes every orbit
  // once per coil.
  bool fresh = false;
  out.termination = CorrectionTermination::NoProgress;
  for (;;) {
    if (WorstOf(errors, rows) <= options.tolerance) {
      out.termination = CorrectionTermination::Converged;
      break;
    }
    if (out.iterations >= options.maxIterations) {
      out.termination = CorrectionTermination::IterationLimit;
      break;
    }
    if (active.empty()) break;  // no progress possible
    bool stopped = false;
    if (!fresh) rowLost.assign(rows.size(), false);
    for (Eigen::Index a = 0; a < A && !fresh; ++a) {
      const int c = active[static_cast<std::size_t>(a)];
      double peak = 0;
      for (double g : profiles[c]) peak = std::max(peak, std::fabs(g));
      // A probe that loses an orbit is made again with a quarter of the step, twice; an orbit
      // still lost then leaves its energy out of this iteration rather than give a derivative
      // from an orbit that is not there.
      double dI = 1e-5 * fieldScale / peak;
      std::vector<EnergyOrbit> moved;
      for (int attempt = 0;; ++attempt) {
        std::vector<double> shifted = currents;
        shifted[c] += dI;
        moved = orbits;
        const Result<Closing> closing = close(fieldOf(shifted), moved);
        if (!closing) return closing.failure();
        if (*closing == Closing::Stopped) {
          stopped = true;
          break;
        }
        if (AllClosed(moved, closedOnMap) || attempt == 2) break;
        dI /= 4;
      }
      if (stopped) break;
      std::vector<double> probed = IsochronismOf(record, moved);
      for (int i : closedOnMap) {
        if (moved[i].closed) continue;
        probed[i] = errors[i];  // the RF phase runs on through it as it was
        out.lostInIterationMeV.push_back(JoulesToMeV(record.Ek[i]));
        for (std::size_t row = 0; row < rows.size(); ++row)
          if (rows[row] == i) rowLost[row] = true;
      }
      J.col(a) = (Objective(record, probed, rows, rootWeights, options) - objective) / dI;
    }
    if (stopped) {
      out.termination = CorrectionTermination::Stopped;
      break;
    }
    const bool measuredNow = !fresh;
    fresh = true;
    // The step from the rows measured with their orbits.
    std::vector<Eigen::Index> kept;
    for (std::size_t row = 0; row < rows.size(); ++row)
      if (!rowLost[row]) kept.push_back(static_cast<Eigen::Index>(row));
    Eigen::MatrixXd Jk(static_cast<Eigen::Index>(kept.size()), A);
    Eigen::VectorXd objectiveK(static_cast<Eigen::Index>(kept.size()));
    for (std::size_t k = 0; k < kept.size(); ++k) {
      Jk.row(static_cast<Eigen::Index>(k)) = J.row(kept[k]);
      objectiveK[static_cast<Eigen::Index>(k)] = objective[kept[k]];
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
    const BoundedLeastSquares solved = SolveBoundedLeastSquares(Jk, -objectiveK, lower, upper);
    ++out.iterations;
    // Take the step, halved while it does not lower the sum of squares (the response is linear
    // only near the orbits it was taken on).
    bool improved = false;
    for (double scale = 1; scale > 1.0 / 16; scale /= 2) {
      std::vector<double> trial = currents;
      for (Eigen::Index a = 0; a < A; ++a)
        trial[active[static_cast<std::size_t>(a)]] += scale * solved.x[a];
      std::vector<EnergyOrbit> moved = orbits;
      const Result<Closing> closing = close(fieldOf(trial), moved);
      if (!closing) return closing.failure();
      if (*closing == Closing::Stopped) {
        stopped = true;
        break;
      }
      if (!AllClosed(moved, closedOnMap)) continue;
      std::vector<double> trialErrors = IsochronismOf(record, moved);
      const Eigen::VectorXd value = Objective(record, trialErrors, rows, rootWeights, options);
      if (value.squaredNorm() < objective.squaredNorm()) {
        const double gain = 1 - value.squaredNorm() / objective.squaredNorm();
        currents = trial;
        orbits = std::move(moved);
        errors = std::move(trialErrors);
        objective = value;
        improved = gain > 1e-3;
        break;
      }
    }
    if (stopped) {
      out.termination = CorrectionTermination::Stopped;
      break;
    }
    if (options.iterationDone) options.iterationDone(out.iterations, WorstOf(errors, rows));
    if (!improved) {
      if (measuredNow) break;  // a response measured here did not help either: no progress
      fresh = false;           // measure the response again where the orbits are now
    }
  }
  out.currents = currents;
  EndOutcome(record, errors, options.gainPerTurnMeV, out);
  for (int c : active)
    if (std::isfinite(limits[c]) && std::fabs(currents[c]) >= limits[c] * (1 - 1e-9))
      out.atLimit.push_back(c);
  return out;
}

}  // namespace zuba
