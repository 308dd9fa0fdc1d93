// The isochronous mean-field correction and the orbit closer it iterates on (see isochronise.h).
#include "calc/corrections/isochronise.h"

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>

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
// Integration steps between two kept samples of a closed orbit (the averages along it need no
// more).
constexpr std::size_t kSampleStride = 8;

// Target revolution frequency Frf / H (Hz).
double TargetFrequency(const CalculationRecord& record) {
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

std::vector<double> AzimuthalMeans(const CalculationRecord& record, std::span<const double> field) {
  std::vector<double> mean;
  if (!AzimuthalMean(field, record.nR, record.thetaStart, record.thetaEnd, record.nTheta, mean))
    mean.assign(static_cast<std::size_t>(record.nR), 0.0);
  return mean;
}

// d F0_i / d ΔB_j (Hz/T) of the closed orbits for a change of the node values: the field change
// along the orbit, averaged over the turn, moves F0 by F0 ΔB / (B̄ (1 + k)) in the smooth
// approximation — the orbit moves outwards as the field grows, and in a field of index k that takes
// back the fraction k / (1 + k) of the gain.
Eigen::MatrixXd FrequencyResponse(const CalculationRecord& record, const RadialWeights& weights,
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

}  // namespace

OrbitCloser PreciseOrbitCloser(const CalculationRecord& record, int threads,
                               const std::atomic<int32_t>* stop) {
  return [base = record, threads, stop](std::span<const double> field,
                                        std::vector<EnergyOrbit>& orbits) -> Outcome {
    CalculationRecord run = base;
    run.field.assign(field.begin(), field.end());
    PreparedRun prepared;
    if (Outcome o = PrepareRun(run, prepared); !o) return o;
    Result<FieldPatches> patches =
        FieldPatches::Build(prepared.radialSteps, run.radii, run.azimuths, run.field, run.moments);
    if (!patches) return patches.outcome();
    orbits.resize(static_cast<std::size_t>(run.n));
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
        CloseOrbits(prepared.constants, prepared.tables(), *patches, run.Ek, seeds, options);
    if (closed.stopped) return QuietFailure(kStoppedText);
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
    return {};
  };
}

std::vector<double> IsochronismOf(const CalculationRecord& record,
                                  const std::vector<EnergyOrbit>& orbits) {
  std::vector<double> errors;
  errors.reserve(orbits.size());
  const double target = TargetFrequency(record);
  for (const EnergyOrbit& orbit : orbits)
    errors.push_back(orbit.closed ? orbit.F0 / target - 1 : kNoValue);
  return errors;
}

std::vector<double> FieldWithMeanChange(const CalculationRecord& record,
                                        std::span<const double> deltaB) {
  std::vector<double> field = record.field;
  for (int32_t i = 0; i < record.nR; ++i)
    for (int32_t j = 0; j < record.nTheta; ++j)
      field[static_cast<std::size_t>(i) * record.nTheta + j] += deltaB[i];
  return field;
}

std::vector<double> RfPhaseOf(const CalculationRecord& record, const std::vector<double>& errors,
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

Result<std::vector<double>> IsochronismOnMap(const CalculationRecord& record, int threads) {
  std::vector<EnergyOrbit> orbits;
  if (Outcome o = PreciseOrbitCloser(record, threads)(record.field, orbits); !o) return o;
  return IsochronismOf(record, orbits);
}

Result<SdfConversion> CorrectedMapSdf(const CalculationRecord& record,
                                      std::span<const double> deltaB) {
  // The unit of the file the record was read from; the mesh and the field are the record's.
  Result<FieldMap> read = ReadMap(record.run.Path, record.mapReading);
  if (!read) return read.outcome();
  FieldMap map;
  map.nR = record.nR;
  map.nTheta = record.nTheta;
  map.unit = read->unit;
  map.radii = record.radii;
  map.azimuths = record.azimuths;
  map.field = FieldWithMeanChange(record, deltaB);
  map.moments.assign(map.field.size(), 0.0);
  map.thetaStart = record.thetaStart;
  map.thetaEnd = record.thetaEnd;
  map.format = read->format;
  Result<SdfConversion> sdf = ConvertToSdf(map, "", std::nullopt);
  const double step = 360.0 / record.nTheta;
  if (!sdf && !IsSdfAzimuthStep(step))
    sdf = ConvertToSdf(map, "", NearestSdfAzimuthSteps(step).nearest.front());
  return sdf;
}

Result<MeanFieldCorrection> FindIsochronousCorrection(const CalculationRecord& record,
                                                      const OrbitCloser& close,
                                                      const IsochroniseOptions& options) {
  MeanFieldCorrection out;
  out.radii = record.radii;
  const std::size_t n = record.radii.size();
  Result<OrbitsOnMap> start = CloseOnMap(record, close, "correct");
  if (!start) return start.outcome();
  std::vector<EnergyOrbit> orbits = std::move(start->orbits);
  const std::vector<int> energies = std::move(start->energies);
  out.excludedEnergiesMeV = std::move(start->excludedMeV);
  out.errorBefore = std::move(start->errors);
  out.isochronismBefore = LargestMagnitude(out.errorBefore);

  // The unknowns: the node values over the orbits' span and one node beyond each end; the nodes
  // further out follow the nearest of them.
  OrbitSpan(orbits, energies, out.spanLow, out.spanHigh);
  int jLow = 0, jHigh = static_cast<int>(n) - 1;
  while (jLow + 1 < static_cast<int>(n) && record.radii[jLow + 1] <= out.spanLow) ++jLow;
  while (jHigh - 1 >= 0 && record.radii[jHigh - 1] >= out.spanHigh) --jHigh;
  jLow = std::max(0, jLow - 1);
  jHigh = std::min(static_cast<int>(n) - 1, jHigh + 1);
  const Eigen::Index p = jHigh - jLow + 1;
  auto expand = [&](const Eigen::VectorXd& free) {
    std::vector<double> full(n);
    for (int j = 0; j < static_cast<int>(n); ++j) full[j] = free[std::clamp(j, jLow, jHigh) - jLow];
    return full;
  };
  // Second differences of the unknowns: a light smoothing of each step.
  Eigen::MatrixXd D = Eigen::MatrixXd::Zero(std::max<Eigen::Index>(p - 2, 0), p);
  for (Eigen::Index r = 0; r + 2 < p; ++r) D(r, r) = 1, D(r, r + 1) = -2, D(r, r + 2) = 1;

  const RadialWeights weights(record.radii);
  const double target = TargetFrequency(record);
  Eigen::VectorXd deltaB = Eigen::VectorXd::Zero(p), best = deltaB;
  std::vector<double> field = record.field;
  double worst = out.isochronismBefore, bestWorst = worst;
  std::vector<double> bestErrors = out.errorBefore;
  int sinceBest = 0;
  for (out.iterations = 0; out.iterations < options.maxIterations && worst >= options.tolerance;) {
    // Response of the closed orbits to the node values, rows in units of the relative error.
    const Eigen::MatrixXd full = FrequencyResponse(record, weights, field, orbits, energies);
    Eigen::MatrixXd J(full.rows(), p);
    J.setZero();
    for (int j = 0; j < static_cast<int>(n); ++j)
      J.col(std::clamp(j, jLow, jHigh) - jLow) += full.col(j);
    J /= target;
    Eigen::VectorXd residual(static_cast<Eigen::Index>(energies.size()));
    for (std::size_t row = 0; row < energies.size(); ++row)
      residual[static_cast<Eigen::Index>(row)] = 1 - orbits[energies[row]].F0 / target;
    const double lambda = 1e-4 * J.norm() / std::sqrt(static_cast<double>(p));
    Eigen::MatrixXd stacked(J.rows() + D.rows(), p);
    stacked << J, lambda * D;
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(stacked.rows());
    rhs.head(J.rows()) = residual;
    const Eigen::VectorXd step = stacked.completeOrthogonalDecomposition().solve(rhs);
    deltaB += step;
    ++out.iterations;

    const std::vector<double> nodes = expand(deltaB);
    field = FieldWithMeanChange(record, nodes);
    if (Outcome o = close(field, orbits); !o) return o;
    std::vector<double> errors = IsochronismOf(record, orbits);
    worst = 0;
    for (int i : energies)
      worst = std::max(worst, errors[i] == kNoValue ? kInfinity : std::fabs(errors[i]));
    if (worst < bestWorst) {
      // Improving: keep it; an iteration that gains less than 2 % counts as not improving.
      sinceBest = worst < 0.98 * bestWorst ? 0 : sinceBest + 1;
      bestWorst = worst;
      best = deltaB;
      bestErrors = errors;
    } else {
      ++sinceBest;
    }
    if (options.iterationDone) options.iterationDone(out.iterations, worst);
    if (sinceBest >= 3) break;
  }
  out.deltaB = expand(best);
  out.errorAfter = bestErrors;
  out.isochronismAfter = bestWorst;
  return out;
}

}  // namespace zuba
