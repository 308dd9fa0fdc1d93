// The trim-coil fit (see isochronise.h): the currents that come closest to isochronism within
// their limits.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>

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

// The quantity the fit minimises, over the energies that closed on the map.
Eigen::VectorXd Objective(const CalculationRecord& record, const std::vector<EnergyOrbit>& orbits,
                          const std::vector<int>& energies, const TrimFitOptions& options,
                          bool& allClosed) {
  const std::vector<double> errors = IsochronismOf(record, orbits);
  const std::vector<double> phase = options.target == TrimTarget::Phase
                                        ? RfPhaseOf(record, errors, options.gainPerTurnMeV)
                                        : std::vector<double>{};
  Eigen::VectorXd value(static_cast<Eigen::Index>(energies.size()));
  allClosed = true;
  for (std::size_t row = 0; row < energies.size(); ++row) {
    const int i = energies[row];
    if (errors[i] == kNoValue) {
      allClosed = false;
      value[static_cast<Eigen::Index>(row)] = 0;
      continue;
    }
    value[static_cast<Eigen::Index>(row)] =
        options.target == TrimTarget::Phase ? phase[i] : errors[i];
  }
  return value;
}

}  // namespace

Result<TrimFit> FitTrimCoils(const CalculationRecord& record, const TrimCoils& coils,
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
  std::vector<EnergyOrbit> orbits = std::move(start->orbits);
  const std::vector<int> energies = std::move(start->energies);
  out.excludedEnergiesMeV = std::move(start->excludedMeV);
  out.errorBefore = std::move(start->errors);
  out.phaseBefore = RfPhaseOf(record, out.errorBefore, options.gainPerTurnMeV);
  out.isochronismBefore = LargestMagnitude(out.errorBefore);
  out.phaseDegBefore = LargestMagnitude(out.phaseBefore);

  // Coils whose field reaches no closed orbit (nowhere over the orbits' span a millionth of its
  // peak) have nothing to say to the fit.
  double spanLow = 0, spanHigh = 0;
  OrbitSpan(orbits, energies, spanLow, spanHigh);
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
  bool allClosed = true;
  Eigen::VectorXd objective = Objective(record, orbits, energies, options, allClosed);
  std::vector<double> currents = out.currents;
  Eigen::MatrixXd J(objective.size(), static_cast<Eigen::Index>(active.size()));
  // The response is measured once and again only when a step taken with it fails to lower the
  // sum of squares: near the answer it hardly changes, and each measurement closes every orbit
  // once per coil.
  bool fresh = false;
  for (out.iterations = 0; out.iterations < options.maxIterations && !active.empty();) {
    for (std::size_t a = 0; a < active.size() && !fresh; ++a) {
      const int c = active[a];
      double peak = 0;
      for (double g : profiles[c]) peak = std::max(peak, std::fabs(g));
      const double dI = 1e-5 * fieldScale / peak;
      std::vector<double> shifted = currents;
      shifted[c] += dI;
      std::vector<EnergyOrbit> moved = orbits;
      if (Outcome o = close(fieldOf(shifted), moved); !o) return o;
      bool closedAll = true;
      const Eigen::VectorXd value = Objective(record, moved, energies, options, closedAll);
      J.col(static_cast<Eigen::Index>(a)) = (value - objective) / dI;
    }
    const bool measuredNow = !fresh;
    fresh = true;
    Eigen::VectorXd lower(static_cast<Eigen::Index>(active.size()));
    Eigen::VectorXd upper(static_cast<Eigen::Index>(active.size()));
    for (std::size_t a = 0; a < active.size(); ++a) {
      lower[static_cast<Eigen::Index>(a)] = -limits[active[a]] - currents[active[a]];
      upper[static_cast<Eigen::Index>(a)] = limits[active[a]] - currents[active[a]];
    }
    out.conditionNumber = ScaledConditionNumber(J);
    const BoundedLeastSquares step = SolveBoundedLeastSquares(J, -objective, lower, upper);
    ++out.iterations;
    // Take the step, halved while it does not lower the sum of squares (the response is linear
    // only near the orbits it was taken on).
    bool improved = false;
    for (double scale = 1; scale > 1.0 / 16; scale /= 2) {
      std::vector<double> trial = currents;
      for (std::size_t a = 0; a < active.size(); ++a)
        trial[active[a]] += scale * step.x[static_cast<Eigen::Index>(a)];
      std::vector<EnergyOrbit> moved = orbits;
      if (Outcome o = close(fieldOf(trial), moved); !o) return o;
      bool closedAll = true;
      const Eigen::VectorXd value = Objective(record, moved, energies, options, closedAll);
      if (closedAll && value.squaredNorm() < objective.squaredNorm()) {
        const double gain = 1 - value.squaredNorm() / objective.squaredNorm();
        currents = trial;
        orbits = std::move(moved);
        objective = value;
        improved = gain > 1e-3;
        break;
      }
    }
    if (options.iterationDone)
      options.iterationDone(out.iterations, LargestMagnitude(IsochronismOf(record, orbits)));
    if (!improved) {
      if (measuredNow) break;  // a response measured here did not help either: done
      fresh = false;           // measure the response again where the orbits are now
    }
  }
  out.currents = currents;
  out.errorAfter = IsochronismOf(record, orbits);
  out.phaseAfter = RfPhaseOf(record, out.errorAfter, options.gainPerTurnMeV);
  out.isochronismAfter = LargestMagnitude(out.errorAfter);
  out.phaseDegAfter = LargestMagnitude(out.phaseAfter);
  for (int c : active)
    if (std::isfinite(limits[c]) && std::fabs(currents[c]) >= limits[c] * (1 - 1e-9))
      out.atLimit.push_back(c);
  return out;
}

}  // namespace zuba
