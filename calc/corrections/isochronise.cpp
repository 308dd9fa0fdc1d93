// The isochronous mean-field correction and the orbit closer it iterates on (see isochronise.h).
#include "calc/corrections/isochronise.h"

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "calc/corrections/orbits_on_map.h"
#include "calc/maps/map_formats.h"
#include "calc/orbits/closed_orbits.h"
#include "calc/orbits/orbit.h"
#include "calc/orbits/precise_orbit.h"
#include "numerics/average_field.h"
#include "numerics/azimuthal.h"
#include "numerics/bounded_lsq.h"
#include "numerics/constants.h"
#include "numerics/field_patches.h"
#include "numerics/interpolation.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Samples between two kept samples of a closed orbit: every one (a precise orbit's samples lie on
// the map's azimuth step, at most 2 degrees apart).
constexpr std::size_t kSampleStride = 1;

// Target revolution frequency Frf / H (Hz).
double TargetFrequency(const PreparedRun& record) {
  return record.rfFrequency / record.run.H;
}

// The time average along an orbit of the radial weights: Σ over the kept samples by the
// trapezoid rule in tau, divided by the turn's tau.
std::vector<double> AverageWeights(const RadialWeights& weights, const EnergyOrbit& orbit) {
  std::vector<double> sum(weights.Count(), 0.0);
  const std::size_t m = orbit.tau.size();
  if (m < 2) return sum;
  const double turn = orbit.tau.back() - orbit.tau.front();
  for (std::size_t s = 0; s < m; ++s) {
    const double left = s > 0 ? orbit.tau[s] - orbit.tau[s - 1] : 0;
    const double right = s + 1 < m ? orbit.tau[s + 1] - orbit.tau[s] : 0;
    weights.Accumulate(orbit.R[s], (left + right) / (2 * turn), sum);
  }
  return sum;
}

// The mean-field index k = R dB̄/dR / B̄ of a field at radius R, from its azimuthal means at the
// radius nodes.
double MeanFieldIndex(std::span<const double> radii, std::span<const double> mean, double R) {
  const double d = 0.5 * (radii[1] - radii[0]);
  double low = 0, mid = 0, high = 0;
  const double Rlow = std::max(radii.front(), R - d), Rhigh = std::min(radii.back(), R + d);
  if (!InterpolateTable(radii, mean, Rlow, low) || !InterpolateTable(radii, mean, R, mid) ||
      !InterpolateTable(radii, mean, Rhigh, high) || !(Rhigh > Rlow) || mid == 0)
    return 0;
  return R * (high - low) / (Rhigh - Rlow) / mid;
}

std::vector<double> AzimuthalMeans(const PreparedRun& record, std::span<const double> field) {
  std::vector<double> mean;
  if (!AzimuthalMean(field, record.nR, record.thetaStart, record.thetaEnd, record.nTheta, mean))
    mean.assign(static_cast<std::size_t>(record.nR), 0.0);
  return mean;
}

// d F0_i / d ΔB_j (Hz/T) of the closed orbits for a change of the node values: the field change
// along the orbit, averaged over the turn, moves F0 by F0 ΔB / (B̄ (1 + k)) in the smooth
// approximation — the orbit moves outwards as the field grows, and in a field of index k that takes
// back the fraction k / (1 + k) of the gain.
Eigen::MatrixXd FrequencyResponse(const PreparedRun& record, const RadialWeights& weights,
                                  std::span<const double> field,
                                  const std::vector<EnergyOrbit>& orbits,
                                  const std::vector<int>& energies) {
  const std::vector<double> mean = AzimuthalMeans(record, field);
  Eigen::MatrixXd J(static_cast<Eigen::Index>(energies.size()),
                    static_cast<Eigen::Index>(weights.Count()));
  for (std::size_t row = 0; row < energies.size(); ++row) {
    const EnergyOrbit& orbit = orbits[energies[row]];
    const double k = MeanFieldIndex(record.radii, mean, orbit.Rmn);
    const double factor = orbit.F0 / (orbit.Bmn * (1 + k));
    const std::vector<double> average = AverageWeights(weights, orbit);
    for (std::size_t j = 0; j < average.size(); ++j)
      J(static_cast<Eigen::Index>(row), static_cast<Eigen::Index>(j)) = factor * average[j];
  }
  return J;
}

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Radius steps between two knots of the correction at the least: a correction that turns within
// fewer nodes than this is not one the map's own interpolation of the node values can carry.
constexpr double kKnotSpacingInSteps = 2.0;

// The correction's cubic spline: its knots, and the values at the free radius nodes jLow .. jHigh
// of the spline with coefficients c in the cubic B-spline basis of the knots (the ends' knots
// taken four times), nodes = S c. The basis spans every cubic spline on the knots, with no
// condition at the ends.
struct CorrectionSpline {
  std::vector<double> knots;  // m
  Eigen::MatrixXd S;          // free nodes x (knots + 2)
};

// The values at x of the cubic B-splines on the knot sequence t (Cox-de Boor), t[0] <= x <=
// t.back().
std::vector<double> CubicBSplines(const std::vector<double>& t, double x) {
  const std::size_t count = t.size() - 4;
  // The interval t[i] <= x < t[i+1] with t[i] < t[i+1]; x at the last knot belongs to the last.
  std::size_t span = 3;
  while (span + 1 < t.size() - 4 && x >= t[span + 1]) ++span;
  std::vector<double> value(t.size() - 1, 0.0);
  value[span] = 1;
  for (std::size_t degree = 1; degree <= 3; ++degree)
    for (std::size_t i = span - degree; i <= span; ++i) {
      const double left = t[i + degree] > t[i] ? (x - t[i]) / (t[i + degree] - t[i]) : 0.0;
      const double right = t[i + degree + 1] > t[i + 1]
                               ? (t[i + degree + 1] - x) / (t[i + degree + 1] - t[i + 1])
                               : 0.0;
      value[i] = left * value[i] + right * value[i + 1];
    }
  value.resize(count);
  return value;
}

// Knots at the free end nodes and, between them, at the orbits' mean radii, each at least
// kKnotSpacingInSteps radius steps from the knot before it and from the last one.
CorrectionSpline MakeCorrectionSpline(const std::vector<double>& radii, int jLow, int jHigh,
                                      std::vector<double> meanRadii) {
  CorrectionSpline spline;
  const double step = (radii.back() - radii.front()) / static_cast<double>(radii.size() - 1);
  const double spacing = kKnotSpacingInSteps * step;
  std::sort(meanRadii.begin(), meanRadii.end());
  spline.knots.push_back(radii[jLow]);
  for (double R : meanRadii)
    if (R - spline.knots.back() >= spacing && radii[jHigh] - R >= spacing)
      spline.knots.push_back(R);
  spline.knots.push_back(radii[jHigh]);
  std::vector<double> t(3, spline.knots.front());
  t.insert(t.end(), spline.knots.begin(), spline.knots.end());
  t.insert(t.end(), 3, spline.knots.back());
  const Eigen::Index P = jHigh - jLow + 1;
  const Eigen::Index count = static_cast<Eigen::Index>(spline.knots.size() + 2);
  spline.S = Eigen::MatrixXd::Zero(P, count + 2);
  for (Eigen::Index p = 0; p < P; ++p) {
    const std::vector<double> b = CubicBSplines(t, radii[jLow + p]);
    for (std::size_t k = 0; k < b.size(); ++k) spline.S(p, static_cast<Eigen::Index>(k)) = b[k];
  }
  // The two end nodes also on their own: the map's spline through the correction held constant
  // beyond them turns there, and the orbits next to the ends see how.
  spline.S(0, count) = 1;
  spline.S(P - 1, count + 1) = 1;
  return spline;
}

// For each of the orbits rows: the rows whose orbit comes within a radius step of its radial
// extent. Those see some of the same radius nodes and share the part of its error that comes from
// them, so the choice of the smoothing predicts an orbit's error without them: a correction that
// only they confirm is one the orbits cannot tell from an error of the nodes they share.
std::vector<std::vector<Eigen::Index>> SharingNodes(const std::vector<double>& radii,
                                                    const std::vector<EnergyOrbit>& orbits,
                                                    const std::vector<int>& rows) {
  const double step = (radii.back() - radii.front()) / static_cast<double>(radii.size() - 1);
  std::vector<std::pair<double, double>> extent;
  extent.reserve(rows.size());
  for (int i : rows) {
    const std::vector<double>& R = orbits[static_cast<std::size_t>(i)].R;
    if (R.empty()) {
      extent.emplace_back(orbits[static_cast<std::size_t>(i)].Rmn,
                          orbits[static_cast<std::size_t>(i)].Rmn);
      continue;
    }
    const auto [low, high] = std::minmax_element(R.begin(), R.end());
    extent.emplace_back(*low, *high);
  }
  std::vector<std::vector<Eigen::Index>> sharing(rows.size());
  for (std::size_t a = 0; a < rows.size(); ++a)
    for (std::size_t r = 0; r < rows.size(); ++r)
      if (extent[r].first < extent[a].second + step && extent[a].first < extent[r].second + step)
        sharing[a].push_back(static_cast<Eigen::Index>(r));
  return sharing;
}

}  // namespace

OrbitCloser PreciseOrbitCloser(SharedRun run, int threads, StopToken stop, double tolerance) {
  return [run = std::move(run), threads, stop = std::move(stop), tolerance](
             std::span<const double> field, std::vector<EnergyOrbit>& orbits) -> Result<Closing> {
    // The run is shared, not copied: the tables of this field are made beside it.
    Result<OrbitInputs> tables = PrepareOrbitInputs(*run, field);
    if (!tables) return tables.outcome();
    tables->constants.tolerance = tolerance;
    Result<FieldPatches> patches =
        FieldPatches::Build(tables->radialSteps, run->radii, run->azimuths, field, tables->moments);
    if (!patches) return patches.outcome();
    orbits.resize(static_cast<std::size_t>(run->n));
    // Each energy starts from its orbit on the field before, where it had one: on a slightly
    // changed field that closes in a turn or two.
    std::vector<std::optional<OrbitStart>> seeds(orbits.size());
    for (std::size_t i = 0; i < orbits.size(); ++i)
      if (orbits[i].seeded) seeds[i] = OrbitStart{orbits[i].Rs, orbits[i].vRs, orbits[i].thetaS};
    ClosedOrbitsOptions options;
    options.threads = threads;
    options.stop = stop;
    // Every few samples of each closed orbit, for the averages along it; the batch calls an energy
    // one at a time, and again only with a better orbit.
    options.orbitClosed = [&orbits](int32_t i, const OrbitSamples& samples) {
      EnergyOrbit& orbit = orbits[static_cast<std::size_t>(i)];
      orbit.tau.clear();
      orbit.R.clear();
      for (std::size_t s = 0; s < samples.Size(); s += kSampleStride) {
        orbit.tau.push_back(samples.tau[s]);
        orbit.R.push_back(samples.R[s]);
      }
      if (samples.Size() > 0 && (samples.Size() - 1) % kSampleStride != 0) {
        orbit.tau.push_back(samples.tau.back());
        orbit.R.push_back(samples.R.back());
      }
    };
    const ClosedOrbits closed =
        CloseOrbits(tables->constants, tables->tables(), *patches, run->Ek, seeds, options);
    if (closed.stopped) return Closing::Stopped;
    for (std::size_t i = 0; i < orbits.size(); ++i) {
      const PreciseOrbitResult& result = closed.energies[i];
      EnergyOrbit& orbit = orbits[i];
      orbit.closed = result.status == ClosureStatus::Converged;
      orbit.reason = result.reason;
      orbit.F0 = result.F0;
      orbit.Rmn = result.Rmn;
      orbit.Bmn = result.Bmn;
      if (orbit.closed) {
        orbit.seeded = true;
        orbit.Rs = result.Rs;
        orbit.vRs = result.vRs;
        orbit.thetaS = result.thetaS;
      } else {
        orbit.tau.clear();
        orbit.R.clear();
      }
    }
    return Closing::Closed;
  };
}

std::vector<double> IsochronismOf(const PreparedRun& record,
                                  const std::vector<EnergyOrbit>& orbits) {
  std::vector<double> errors;
  errors.reserve(orbits.size());
  const double target = TargetFrequency(record);
  for (const EnergyOrbit& orbit : orbits)
    errors.push_back(orbit.closed ? orbit.F0 / target - 1 : kNoValue);
  return errors;
}

std::vector<double> FieldWithMeanChange(const PreparedRun& record, std::span<const double> deltaB) {
  std::vector<double> field = record.field;
  for (int32_t i = 0; i < record.nR; ++i)
    for (int32_t j = 0; j < record.nTheta; ++j)
      field[static_cast<std::size_t>(i) * record.nTheta + j] += deltaB[i];
  return field;
}

std::vector<double> RfPhaseOf(const PreparedRun& record, const std::vector<double>& errors,
                              double gainPerTurnMeV) {
  std::vector<double> phase(errors.size(), kNoValue);
  const double turnsPerStep = record.run.dEk / gainPerTurnMeV;
  double phi = 0;
  int last = -1;
  for (std::size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] == kNoValue) continue;
    if (last >= 0) {
      // Frf / F0 - H = H (1 / (1 + e) - 1) at the last closed energy, over the steps between.
      const double slip = record.run.H * (1 / (1 + errors[last]) - 1);
      phi += 360 * slip * turnsPerStep * static_cast<double>(static_cast<int>(i) - last);
    }
    phase[i] = phi;
    last = static_cast<int>(i);
  }
  return phase;
}

double LargestMagnitude(const std::vector<double>& values) {
  double largest = 0;
  for (double v : values)
    if (v != kNoValue) largest = std::max(largest, std::fabs(v));
  return largest;
}

Result<std::vector<double>> IsochronismOnMap(const SharedRun& run, int threads, double tolerance) {
  std::vector<EnergyOrbit> orbits;
  const Result<Closing> closing =
      PreciseOrbitCloser(run, threads, {}, tolerance)(run->field, orbits);
  if (!closing) return closing.failure();
  return IsochronismOf(*run, orbits);  // never stopped: the closer has no stop token
}

Result<SdfConversion> CorrectedMapSdf(const PreparedRun& record, std::span<const double> deltaB) {
  // In the unit of the file the run read; the mesh and the field are the run's.
  FieldMap map;
  map.nR = record.nR;
  map.nTheta = record.nTheta;
  map.unit = record.mapUnit;
  map.radii = record.radii;
  map.azimuths = record.azimuths;
  map.field = FieldWithMeanChange(record, deltaB);
  map.moments.assign(map.field.size(), 0.0);
  map.thetaStart = record.thetaStart;
  map.thetaEnd = record.thetaEnd;
  map.format = record.mapReading.format;
  Result<SdfConversion> sdf = ConvertToSdf(map, "", std::nullopt);
  const double step = 360.0 / record.nTheta;
  if (!sdf && !IsSdfAzimuthStep(step))
    sdf = ConvertToSdf(map, "", NearestSdfAzimuthSteps(step).nearest.front());
  return sdf;
}

const char* TerminationName(CorrectionTermination termination) {
  switch (termination) {
    case CorrectionTermination::Converged:
      return "converged";
    case CorrectionTermination::IterationLimit:
      return "iteration_limit";
    case CorrectionTermination::NoProgress:
      return "no_progress";
    case CorrectionTermination::Stopped:
      return "stopped";
  }
  return "no_progress";
}

std::vector<std::string> CorrectionWarnings(const PreparedRun& record,
                                            const CorrectionOutcome& outcome) {
  std::vector<std::string> lines;
  if (!(outcome.isochronismAfter <= outcome.target)) {
    int worst = -1;
    for (std::size_t i = 0; i < outcome.errorAfter.size(); ++i)
      if (!outcome.excluded[i] && outcome.errorAfter[i] != kNoValue &&
          (worst < 0 || std::fabs(outcome.errorAfter[i]) > std::fabs(outcome.errorAfter[worst])))
        worst = static_cast<int>(i);
    if (worst >= 0)
      lines.push_back("Warning: the target " + Format("%g", outcome.target) +
                      " was not reached: worst residual " +
                      Format("%.1e", outcome.errorAfter[worst]) + " at " +
                      Format("%g", JoulesToMeV(record.Ek[worst])) + " MeV");
  }
  if (outcome.phaseDegAfter > outcome.phaseDegBefore)
    lines.push_back("Warning: the RF phase slip grew from " +
                    Format("%.0f", outcome.phaseDegBefore) + " to " +
                    Format("%.0f", outcome.phaseDegAfter) + " deg");
  if (!outcome.lostInIterationMeV.empty()) {
    std::string list;
    for (double e : outcome.lostInIterationMeV)
      list += (list.empty() ? "" : ", ") + Format("%g", e);
    lines.push_back("Warning: the orbits of " + list +
                    " MeV were lost during the search and left out of an iteration");
  }
  return lines;
}

CorrectionShape ShapeOf(const MeanFieldCorrection& correction) {
  CorrectionShape shape;
  double low = kInfinity, high = -kInfinity, previous = 0;
  bool first = true;
  for (std::size_t j = 0; j < correction.radii.size(); ++j) {
    const double R = correction.radii[j], b = correction.deltaB[j];
    shape.largest = std::max(shape.largest, std::fabs(b));
    if (R < correction.spanLow || R > correction.spanHigh) continue;
    if (!first) shape.totalVariation += std::fabs(b - previous);
    low = std::min(low, b);
    high = std::max(high, b);
    previous = b;
    first = false;
  }
  shape.range = first ? 0.0 : high - low;
  return shape;
}

Result<std::vector<double>> EnergyWeightsOf(const PreparedRun& record,
                                            const std::vector<EnergyRange>& exclude,
                                            const std::vector<EnergyWeight>& weights) {
  auto refused = [](const std::string& text) { return ErrorFailure(text); };
  auto rangeText = [](const EnergyRange& r) {
    return Format("%g", r.low) + ":" + Format("%g", r.high);
  };
  std::vector<double> out(record.Ek.size(), 1.0);
  // An energy of the run lies in a range also where its accumulated steps put it a rounding off.
  auto inside = [&](const EnergyRange& r, std::size_t i) {
    const double e = JoulesToMeV(record.Ek[i]), slack = 1e-9 * std::max(1.0, std::fabs(e));
    return e >= r.low - slack && e <= r.high + slack;
  };
  for (const EnergyWeight& w : weights) {
    if (!(w.range.low <= w.range.high))
      return refused("The weighted energy range " + rangeText(w.range) +
                     " MeV has its low end above its high end.");
    if (!(w.weight > 0) || !std::isfinite(w.weight))
      return refused("The weight " + Format("%g", w.weight) + " of " + rangeText(w.range) +
                     " MeV is not a number above 0.");
    for (std::size_t i = 0; i < out.size(); ++i)
      if (inside(w.range, i)) out[i] = w.weight;
  }
  for (const EnergyRange& r : exclude) {
    if (!(r.low <= r.high))
      return refused("The excluded energy range " + rangeText(r) +
                     " MeV has its low end above its high end.");
    for (std::size_t i = 0; i < out.size(); ++i)
      if (inside(r, i)) out[i] = 0;
  }
  if (!out.empty() && std::all_of(out.begin(), out.end(), [](double w) { return w == 0; }))
    return refused("The excluded energy ranges leave no energy of the run to fit.");
  return out;
}

namespace {

// The free nodes of the correction, jLow to jHigh: those over the orbits' span and one beyond each
// end; the nodes further out follow the nearest of them. On them the correction is the spline
// through its knot values; L gives its smoothness, the second differences at the free nodes.
struct CorrectionBasis {
  int jLow = 0, jHigh = 0;
  CorrectionSpline spline;
  Eigen::MatrixXd L;
};

CorrectionBasis MakeCorrectionBasis(const PreparedRun& record,
                                    const std::vector<EnergyOrbit>& orbits,
                                    const std::vector<int>& energies, MeanFieldCorrection& out) {
  const std::size_t n = record.radii.size();
  OrbitSpan(orbits, energies, out.spanLow, out.spanHigh);
  int jLow = 0, jHigh = static_cast<int>(n) - 1;
  while (jLow + 1 < static_cast<int>(n) && record.radii[jLow + 1] <= out.spanLow) ++jLow;
  while (jHigh - 1 >= 0 && record.radii[jHigh - 1] >= out.spanHigh) --jHigh;
  jLow = std::max(0, jLow - 1);
  jHigh = std::min(static_cast<int>(n) - 1, jHigh + 1);
  const Eigen::Index P = jHigh - jLow + 1;
  std::vector<double> meanRadii;
  meanRadii.reserve(energies.size());
  for (int i : energies) meanRadii.push_back(orbits[i].Rmn);
  CorrectionBasis basis{
      jLow, jHigh, MakeCorrectionSpline(record.radii, jLow, jHigh, meanRadii), {}};
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(std::max<Eigen::Index>(P - 2, 0), P);
  for (Eigen::Index r = 0; r + 2 < P; ++r) D(r, r) = 1, D(r, r + 1) = -2, D(r, r + 2) = 1;
  basis.L = D * basis.spline.S;
  return basis;
}

// The correction at every one of the n nodes of a radius from its knot values c.
std::vector<double> ExpandCorrection(const CorrectionBasis& basis, std::size_t n,
                                     const Eigen::VectorXd& c) {
  const Eigen::VectorXd free = basis.spline.S * c;
  std::vector<double> full(n);
  for (int j = 0; j < static_cast<int>(n); ++j)
    full[j] = free[std::clamp(j, basis.jLow, basis.jHigh) - basis.jLow];
  return full;
}

// The next correction's knot values from the orbits closed on `field` (one lost there sits this
// step out): the whole correction, not the step, is smoothed, the linearised problem for it being
// J c_new = residual + J c, with J the response of the closed orbits to the knot values in units
// of the relative error.
SmoothedLeastSquares NextCorrection(const PreparedRun& record, const RadialWeights& weights,
                                    double target, const CorrectionBasis& basis,
                                    const std::vector<double>& field,
                                    const std::vector<EnergyOrbit>& orbits,
                                    const std::vector<int>& energies, const Eigen::VectorXd& c) {
  std::vector<int> rows;
  for (int i : energies)
    if (orbits[i].closed) rows.push_back(i);
  const Eigen::MatrixXd full = FrequencyResponse(record, weights, field, orbits, rows);
  const Eigen::Index P = basis.jHigh - basis.jLow + 1;
  Eigen::MatrixXd nodes = Eigen::MatrixXd::Zero(full.rows(), P);
  for (int j = 0; j < static_cast<int>(record.radii.size()); ++j)
    nodes.col(std::clamp(j, basis.jLow, basis.jHigh) - basis.jLow) += full.col(j);
  const Eigen::MatrixXd J = nodes * basis.spline.S / target;
  Eigen::VectorXd residual(static_cast<Eigen::Index>(rows.size()));
  for (std::size_t row = 0; row < rows.size(); ++row)
    residual[static_cast<Eigen::Index>(row)] = 1 - orbits[rows[row]].F0 / target;
  return SolveSmoothedLeastSquares(J, residual + J * c, basis.L,
                                   SharingNodes(record.radii, orbits, rows));
}

// Why the search ends before its next iteration: the best worst error within the tolerance, the
// iteration limit, or three iterations without a gain of 2 %; nothing while it goes on.
std::optional<CorrectionTermination> EndOfSearch(double bestWorst, int iterations, int sinceBest,
                                                 const IsochroniseOptions& options) {
  if (bestWorst < options.tolerance) return CorrectionTermination::Converged;
  if (iterations >= options.maxIterations) return CorrectionTermination::IterationLimit;
  if (sinceBest >= 3) return CorrectionTermination::NoProgress;
  return std::nullopt;
}

}  // namespace

Result<MeanFieldCorrection> FindIsochronousCorrection(const PreparedRun& record,
                                                      const OrbitCloser& close,
                                                      const IsochroniseOptions& options) {
  MeanFieldCorrection out;
  out.radii = record.radii;
  const std::size_t n = record.radii.size();
  Result<OrbitsOnMap> start = CloseOnMap(record, close, "correct");
  if (!start) return start.outcome();
  StartOutcome(*start, options.tolerance, out);
  std::vector<EnergyOrbit> orbits = std::move(start->orbits);
  const std::vector<int> energies = std::move(start->energies);
  const CorrectionBasis basis = MakeCorrectionBasis(record, orbits, energies, out);
  out.knots = basis.spline.knots;

  const RadialWeights weights(record.radii);
  const double target = TargetFrequency(record);
  Eigen::VectorXd c = Eigen::VectorXd::Zero(basis.spline.S.cols()), best = c;
  std::vector<double> field = record.field;
  double worst = WorstOf(out.errorBefore, energies), bestWorst = worst;
  std::vector<double> bestErrors = out.errorBefore;
  int sinceBest = 0;
  for (;;) {
    if (const std::optional<CorrectionTermination> end =
            EndOfSearch(bestWorst, out.iterations, sinceBest, options)) {
      out.termination = *end;
      break;
    }
    const SmoothedLeastSquares solved =
        NextCorrection(record, weights, target, basis, field, orbits, energies, c);
    c = solved.x;
    out.smoothing = solved.weight;
    ++out.iterations;

    field = FieldWithMeanChange(record, ExpandCorrection(basis, n, c));
    const Result<Closing> closing = close(field, orbits);
    if (!closing) return closing.failure();
    if (*closing == Closing::Stopped) {
      out.termination = CorrectionTermination::Stopped;
      break;
    }
    const std::vector<double> errors = IsochronismOf(record, orbits);
    for (int i : energies)
      if (!orbits[i].closed) out.lostInIterationMeV.push_back(JoulesToMeV(record.Ek[i]));
    worst = WorstOf(errors, energies);
    if (worst < bestWorst) {
      // Improving: keep it; an iteration that gains less than 2 % counts as not improving.
      sinceBest = worst < 0.98 * bestWorst ? 0 : sinceBest + 1;
      bestWorst = worst;
      best = c;
      bestErrors = errors;
    } else {
      ++sinceBest;
    }
    if (options.iterationDone) options.iterationDone(out.iterations, worst);
  }
  out.deltaB = ExpandCorrection(basis, n, best);
  EndOutcome(record, std::move(bestErrors), options.gainPerTurnMeV, out);
  return out;
}

}  // namespace zuba
