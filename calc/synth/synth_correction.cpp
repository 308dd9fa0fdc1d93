// The flutter correction κ(R) of the mean field of a synthetic map: the sinusoidal model's node
// values on a grid, and the hill model's Chebyshev series, each fitted to the turn times of the
// model's closed orbits.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "calc/synth/synth_map.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// Grid of the flutter correction: nodes about 2.5 cm apart (8 to 200 nodes), joined by a cubic
// that is smooth in value and slope. The turn time of an orbit depends on the field across its
// whole radial swing; nodes closer than that swing would let the correction oscillate.
constexpr double kGridSpacing = 0.025;  // m
// The correction is done when every closed orbit of the grid turns in 2π/ω0 within this ratio.
constexpr double kPeriodTolerance = 1e-9;
constexpr int kMaxCorrectionRounds = 30;
// The hill model's κ/g²: Chebyshev terms, and the largest deviation of the turn time from 2π/ω0
// that the fitted closed orbits may keep.
constexpr size_t kHillTerms = 20;
constexpr double kHillTolerance = 1e-6;
constexpr double kHillTableSpacing = 0.002;  // m

// Least-squares solution x of a·x ≈ b (rows ≥ columns) by Householder reflections; empty when a
// column is dependent on the others (a zero on the diagonal of R).
std::vector<double> LeastSquares(const Eigen::MatrixXd& a, const Eigen::VectorXd& b) {
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(a);
  const Eigen::Index columns = a.cols();
  for (Eigen::Index c = 0; c < columns; ++c)
    if (!(std::fabs(qr.matrixQR()(c, c)) > 0)) return {};
  const Eigen::VectorXd x = qr.solve(b);
  return {x.begin(), x.end()};
}

// Chebyshev polynomials T0 .. T(n−1) at x.
std::vector<double> Chebyshev(double x, size_t n) {
  std::vector<double> t(n);
  for (size_t k = 0; k < n; ++k) t[k] = k == 0 ? 1 : k == 1 ? x : 2 * x * t[k - 1] - t[k - 2];
  return t;
}

std::string Num(double value) {
  return FormatNumber(value, Significant(6));
}

// The largest |ratio − 1|.
double WorstMiss(const std::vector<double>& ratio) {
  double worst = 0;
  for (double x : ratio) worst = std::max(worst, std::fabs(x - 1));
  return worst;
}

// Broyden's update: the sensitivities along the step taken (the terms from `before` to `after`)
// become the change observed (the ratios from `ratio` to `trial`).
void BroydenUpdate(std::vector<std::vector<double>>& jacobian, const std::vector<double>& before,
                   const std::vector<double>& after, const std::vector<double>& ratio,
                   const std::vector<double>& trial) {
  std::vector<double> taken(kHillTerms);
  double length = 0;
  for (size_t k = 0; k < kHillTerms; ++k) {
    taken[k] = after[k] - before[k];
    length += taken[k] * taken[k];
  }
  for (size_t m = 0; m < jacobian.size() && length > 0; ++m) {
    double predicted = 0;
    for (size_t k = 0; k < kHillTerms; ++k) predicted += jacobian[m][k] * taken[k];
    const double surprise = (trial[m] - ratio[m] - predicted) / length;
    for (size_t k = 0; k < kHillTerms; ++k) jacobian[m][k] += surprise * taken[k];
  }
}

}  // namespace

// ---- the sinusoidal model: node values on a grid ------------------------------------------------

// Turn time × ω0/2π of the closed orbit of mean radius ρ_j (energy β = ρ_j/R∞).
bool SynthField::GridRatio(size_t j, double& ratio) const {
  const double beta = gridRadii_[j] / rInfinity_;
  const SynthOrbit orbit = ClosedOrbitOfSpeed(gridRadii_[j], 1 / std::sqrt(1 - beta * beta));
  ratio = orbit.periodRatio;
  return orbit.found;
}

double SynthField::GridRatios(std::vector<double>& ratio, std::string& error) const {
  double worst = 0;
  for (size_t j = 0; j < gridRadii_.size(); ++j) {
    if (!GridRatio(j, ratio[j])) {
      error = "no closed orbit of mean radius " + Num(gridRadii_[j]) +
              " m in the model field; reduce --flutter or --r-max";
      return -1.0;
    }
    worst = std::max(worst, std::fabs(ratio[j] - 1));
  }
  return worst;
}

// Flutter correction κ on a grid of mean radii up to rMax. The grid reaches past rMax, so that
// the orbits of the last mesh radii, whose swing goes beyond rMax, do not meet the end of the grid.
Outcome SynthField::FitFlutterCorrection() {
  const double rMax = options_.rMax;
  const double top = std::min(1.1 * rMax, rMax + 0.5 * (rInfinity_ - rMax));  // m
  const int nodes = std::clamp(static_cast<int>(std::ceil(top / kGridSpacing)), 8, 200);
  for (int j = 1; j <= nodes; ++j) gridRadii_.push_back(top * j / nodes);
  gridCorrection_.assign(gridRadii_.size(), 0.0);
  const size_t count = gridRadii_.size();
  std::vector<double> ratio(count);
  std::string error;  // why the last round of ratios failed

  // A few rounds of the local update: a slow orbit (ratio above 1) needs more field, the turn
  // time scaling as 1/B. This settles the bulk of κ.
  double worst = GridRatios(ratio, error);
  for (int round = 0; round < 4 && worst > kPeriodTolerance; ++round) {
    if (worst < 0) return ErrorFailure(error);
    for (size_t j = 0; j < count; ++j) {
      const double scale = CorrectionScale(gridRadii_[j]);
      const double kappa = Correction(gridRadii_[j]);
      ratio[j] = ((1 + kappa) * ratio[j] - 1) / scale;
    }
    gridCorrection_ = ratio;
    worst = GridRatios(ratio, error);
  }
  if (worst < 0) return ErrorFailure(error);
  if (worst > kPeriodTolerance) return NewtonCorrection(top, ratio, worst);
  return {};
}

// The turn time depends on κ across the orbit's radial swing, so the local update alone
// converges slowly; Newton steps with the sensitivity matrix of the ratios to the node values
// (banded: a node only touches the orbits whose swing reaches it) finish the job.
Outcome SynthField::NewtonCorrection(double top, std::vector<double>& ratio, double worst) {
  const size_t count = gridRadii_.size();
  const double spacing = gridRadii_[1] - gridRadii_[0];
  const double swing =
      top * options_.flutter / (options_.sectors * options_.sectors - 1.0);  // m, about
  const size_t band = 4 + static_cast<size_t>(std::ceil(3 * swing / spacing));
  Eigen::MatrixXd jacobian =
      Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(count), static_cast<Eigen::Index>(count));
  for (size_t k = 0; k < count; ++k) {
    const double dk = 1e-6 / std::max(CorrectionScale(gridRadii_[k]), 1e-6);  // 1e-6 in κ
    const double saved = gridCorrection_[k];
    gridCorrection_[k] = saved + dk;
    for (size_t j = k > band ? k - band : 0; j < std::min(count, k + band + 1); ++j) {
      double shifted = 0;
      if (!GridRatio(j, shifted)) return ErrorFailure("no closed orbit in the model field");
      jacobian(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(k)) =
          (shifted - ratio[j]) / dk;
    }
    gridCorrection_[k] = saved;
  }
  std::string error;
  for (int round = 0; worst > kPeriodTolerance; ++round) {
    if (round == kMaxCorrectionRounds)
      return ErrorFailure(
          "the flutter correction of the mean field did not settle; reduce --flutter "
          "or --r-max");
    // Solve jacobian · δ = 1 − ratio by Gaussian elimination with partial pivoting.
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(jacobian);
    for (Eigen::Index c = 0; c < lu.matrixLU().rows(); ++c)
      if (!(std::fabs(lu.matrixLU()(c, c)) > 0))
        return ErrorFailure("the flutter correction is singular");
    Eigen::VectorXd rhs(static_cast<Eigen::Index>(count));
    for (size_t j = 0; j < count; ++j) rhs(static_cast<Eigen::Index>(j)) = 1 - ratio[j];
    const Eigen::VectorXd b = lu.solve(rhs);
    for (size_t j = 0; j < count; ++j) gridCorrection_[j] += b(static_cast<Eigen::Index>(j));
    worst = GridRatios(ratio, error);
    if (worst < 0) return ErrorFailure(error);
  }
  return {};
}

// ---- the hill model: a Chebyshev series -------------------------------------------------------

// The hill fit as it goes: the Chebyshev terms at every grid radius (the table), the series'
// coefficients, the mean radii of the fitted orbits and where each closed last, what to do where
// the fit fails, the orbits' turn-time ratios at the coefficients and at a trial, and the ratios'
// sensitivities to the coefficients (empty: to be found again).
struct SynthField::HillSamples {
  std::vector<std::vector<double>> table;
  std::vector<double> terms;
  std::vector<double> radii;
  std::vector<OrbitStart> starts;
  std::string remedy;
  std::vector<double> ratio, trial;
  std::vector<std::vector<double>> jacobian;
};

// The grid's κ/g² from the series' coefficients.
void SynthField::UseHillTerms(HillSamples& s, const std::vector<double>& terms) {
  s.terms = terms;
  const size_t nodes = s.table.size();
  gridCorrection_.assign(nodes, 0.0);
  for (size_t i = 0; i < nodes; ++i)
    for (size_t k = 0; k < kHillTerms; ++k) gridCorrection_[i] += terms[k] * s.table[i][k];
}

Outcome SynthField::HillRatios(HillSamples& s, std::vector<double>& ratio) const {
  for (size_t m = 0; m < s.radii.size(); ++m) {
    const double beta = s.radii[m] / rInfinity_;
    const SynthOrbit orbit =
        ClosedOrbitOfSpeed(s.radii[m], 1 / std::sqrt(1 - beta * beta), &s.starts[m]);
    if (!orbit.found)
      return ErrorFailure("no closed orbit of mean radius " + Num(s.radii[m]) +
                          " m in the model field; " + s.remedy);
    ratio[m] = orbit.periodRatio;
  }
  return {};
}

// The sensitivities by differences of 1e-6 in each coefficient.
Outcome SynthField::HillSensitivities(HillSamples& s) {
  s.jacobian.assign(s.radii.size(), std::vector<double>(kHillTerms));
  // A copy: UseHillTerms below replaces the terms.
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const std::vector<double> base = s.terms;
  for (size_t k = 0; k < kHillTerms; ++k) {
    std::vector<double> moved = base;
    moved[k] += 1e-6;
    UseHillTerms(s, moved);
    if (Outcome done = HillRatios(s, s.trial); !done) return done;
    for (size_t m = 0; m < s.radii.size(); ++m) s.jacobian[m][k] = (s.trial[m] - s.ratio[m]) / 1e-6;
  }
  UseHillTerms(s, base);
  return {};
}

// A Gauss-Newton step, halved while it loses an orbit or does not cut the worst deviation below
// 0.9 of `worst`: true where one was taken (the sensitivities then updated along it), false where
// none helped (the terms as they were).
Result<bool> SynthField::HillStep(HillSamples& s, double worst) {
  const size_t samples = s.radii.size();
  std::vector<double> miss(samples);
  for (size_t m = 0; m < samples; ++m) miss[m] = 1 - s.ratio[m];
  Eigen::MatrixXd a(static_cast<Eigen::Index>(samples), static_cast<Eigen::Index>(kHillTerms));
  for (size_t m = 0; m < samples; ++m)
    for (size_t k = 0; k < kHillTerms; ++k)
      a(static_cast<Eigen::Index>(m), static_cast<Eigen::Index>(k)) = s.jacobian[m][k];
  const std::vector<double> step =
      LeastSquares(a, Eigen::Map<const Eigen::VectorXd>(miss.data(), std::ssize(miss)));
  if (step.empty()) return ErrorFailure("the flutter correction is singular");
  const std::vector<double> before = s.terms;
  bool better = false;
  for (double part = 1; part > 0.1 && !better; part /= 2) {
    std::vector<double> next = before;
    for (size_t k = 0; k < kHillTerms; ++k) next[k] += part * step[k];
    UseHillTerms(s, next);
    better = HillRatios(s, s.trial) && WorstMiss(s.trial) < 0.9 * worst;
  }
  if (!better) {
    UseHillTerms(s, before);
    return false;
  }
  BroydenUpdate(s.jacobian, before, s.terms, s.ratio, s.trial);
  s.ratio = s.trial;
  return true;
}

// The hill model's κ. The orbits of separated-sector hills swing across many centimetres, and
// the turn time of an orbit hardly sees a ripple of κ as long as that swing, so node values
// fitted orbit by orbit would ripple. Instead κ/g² is a Chebyshev series in R over the radii
// the orbits cover (held in the grid as a fine table), fitted by least squares to the turn
// times of closed orbits at three radii per term, by Gauss-Newton steps from κ = 0 with the
// sensitivities of the turn times to the terms (found by differences once, then kept up to date
// by Broyden's update). The fit stops at 1e-9 or where the series comes no closer; it fails
// above kHillTolerance.
Outcome SynthField::FitHillCorrection(double rMin) {
  const double rMax = options_.rMax;
  const double top = std::min(1.1 * rMax, rMax + 0.5 * (rInfinity_ - rMax));  // m
  const int n = options_.sectors;
  const double swing = top * Flutter(top) / (n * n - 1.0);  // m, about, either side
  const double low = std::max(0.0, rMin - 3 * swing), high = top;
  auto position = [&](double r) { return (2 * r - low - high) / (high - low); };
  HillSamples s;
  s.remedy = "widen the hills (--hill-fraction) or reduce --r-max";

  // The table: nodes 2 mm apart or closer.
  const size_t nodes = 1 + static_cast<size_t>(std::ceil((high - low) / kHillTableSpacing));
  for (size_t i = 0; i < nodes; ++i) gridRadii_.push_back(low + (high - low) * i / (nodes - 1.0));
  s.table.resize(nodes);
  for (size_t i = 0; i < nodes; ++i) s.table[i] = Chebyshev(position(gridRadii_[i]), kHillTerms);
  UseHillTerms(s, std::vector<double>(kHillTerms, 0.0));

  // The fitted orbits keep a swing clear of the table's ends, two at the top: beyond them κ is
  // held constant, which no series term can shape.
  const size_t samples = 3 * kHillTerms;
  s.radii.resize(samples);
  for (size_t m = 0; m < samples; ++m) {
    const double first = low + swing, last = high - 2 * swing;
    s.radii[m] = first + (last - first) * m / (samples - 1.0);
  }
  s.starts.resize(samples);
  s.ratio.resize(samples);
  s.trial.resize(samples);

  // Gauss-Newton steps; the sensitivities are found again where the old ones stop helping.
  if (Outcome done = HillRatios(s, s.ratio); !done) return done;
  double worst = WorstMiss(s.ratio);
  bool fresh = false;  // the sensitivities belong to the current terms
  for (int round = 0; round < kMaxCorrectionRounds && worst > kPeriodTolerance; ++round) {
    if (s.jacobian.empty()) {
      if (Outcome measured = HillSensitivities(s); !measured) return measured;
      fresh = true;
    }
    const Result<bool> better = HillStep(s, worst);
    if (!better) return better.outcome();
    if (!*better) {
      if (fresh) break;  // as close as the series comes
      s.jacobian.clear();
      continue;
    }
    worst = WorstMiss(s.ratio);
    fresh = false;
  }
  if (worst > kHillTolerance)
    return ErrorFailure("the flutter correction of the mean field did not settle; " + s.remedy);
  return {};
}

}  // namespace zuba
