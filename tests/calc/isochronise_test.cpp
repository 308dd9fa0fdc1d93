// The pieces of the isochronisation and their physics: bounded least squares against brute force,
// the coil table and its refusals, the radial weights against the map's own interpolation, the
// isochronous field of an axisymmetric map against its analytic answer, and a trim-coil fit that
// undoes a known perturbation or says how much it cannot.
#include "calc/corrections/isochronise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "calc/maps/coil_table.h"
#include "numerics/average_field.h"
#include "numerics/bounded_lsq.h"
#include "numerics/interpolation.h"
#include "platform/stop.h"
#include "tests/orbit/test_support.h"
#include "tests/precise/precise_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The best of all 3^n placements of the unknowns (free, at lower, at upper) by plain least squares:
// the minimum of the bounded problem, for small n.
double BruteForceMinimum(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                         const Eigen::VectorXd& lo, const Eigen::VectorXd& hi) {
  const int n = static_cast<int>(A.cols());
  double best = kInf;
  int placements = 1;
  for (int j = 0; j < n; ++j) placements *= 3;
  for (int code = 0; code < placements; ++code) {
    Eigen::VectorXd x = Eigen::VectorXd::Zero(n);
    std::vector<int> free;
    Eigen::VectorXd rhs = b;
    for (int j = 0, c = code; j < n; ++j, c /= 3) {
      if (c % 3 == 0) {
        free.push_back(j);
      } else {
        x[j] = c % 3 == 1 ? lo[j] : hi[j];
        rhs -= A.col(j) * x[j];
      }
    }
    if (!free.empty()) {
      Eigen::MatrixXd Af(A.rows(), static_cast<Eigen::Index>(free.size()));
      for (std::size_t k = 0; k < free.size(); ++k) Af.col(k) = A.col(free[k]);
      const Eigen::VectorXd z = Af.colPivHouseholderQr().solve(rhs);
      bool inside = true;
      for (std::size_t k = 0; k < free.size(); ++k) {
        inside &= z[k] >= lo[free[k]] - 1e-12 && z[k] <= hi[free[k]] + 1e-12;
        x[free[k]] = z[k];
      }
      if (!inside) continue;
    }
    best = std::min(best, (A * x - b).norm());
  }
  return best;
}

TEST(BoundedLeastSquares, ReachesTheBruteForceMinimumInsideTheBounds) {
  std::mt19937 rng(7);
  std::normal_distribution<double> normal;
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + trial % 4, m = n + 2 + trial % 3;
    Eigen::MatrixXd A(m, n);
    Eigen::VectorXd b(m), lo(n), hi(n);
    for (int i = 0; i < m; ++i) {
      b[i] = 3 * normal(rng);
      for (int j = 0; j < n; ++j) A(i, j) = normal(rng);
    }
    for (int j = 0; j < n; ++j) {
      lo[j] = trial % 5 == 0 ? -kInf : -0.5 - std::fabs(normal(rng));
      hi[j] = trial % 7 == 0 ? kInf : 0.2 + std::fabs(normal(rng));
    }
    const BoundedLeastSquares s = SolveBoundedLeastSquares(A, b, lo, hi);
    ASSERT_TRUE(s.converged) << trial;
    for (int j = 0; j < n; ++j) {
      EXPECT_GE(s.x[j], lo[j]) << trial;
      EXPECT_LE(s.x[j], hi[j]) << trial;
      EXPECT_EQ(s.atBound[j], s.x[j] == lo[j] || s.x[j] == hi[j]) << trial;
    }
    EXPECT_NEAR(s.residualNorm, BruteForceMinimum(A, b, lo, hi), 1e-9 * (1 + b.norm())) << trial;
  }
}

TEST(BoundedLeastSquares, ConditionNumberIgnoresColumnUnitsAndSeesDependence) {
  Eigen::MatrixXd A(3, 2);
  A << 1, 0, 0, 1, 0, 0;
  EXPECT_NEAR(ScaledConditionNumber(A), 1, 1e-12);
  A.col(1) *= 1e6;  // another unit of the same unknown
  EXPECT_NEAR(ScaledConditionNumber(A), 1, 1e-12);
  A.col(1) = 2 * A.col(0);
  EXPECT_TRUE(std::isinf(ScaledConditionNumber(A)) || ScaledConditionNumber(A) > 1e12);
}

// Rows that sample a curve on 31 nodes at 121 points in [0, 1] by linear interpolation; the
// penalty is the second differences of the nodes. Each block of `shared` consecutive rows carries
// one error, as neighbouring orbits share the error of the radius nodes they all see.
struct SampledCurve {
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(121, 31), L = Eigen::MatrixXd::Zero(29, 31);
  Eigen::VectorXd truth = Eigen::VectorXd::Zero(31), b;
  std::vector<std::vector<Eigen::Index>> blocks, none = std::vector<std::vector<Eigen::Index>>(121);
  SampledCurve(int shared, double error) {
    for (Eigen::Index j = 0; j < 31; ++j)
      truth[j] = 0.1 * std::sin(3.0 * static_cast<double>(j) / 30);
    for (Eigen::Index i = 0; i < 121; ++i) {
      const double at = 30.0 * static_cast<double>(i) / 120;
      const auto j = std::min<Eigen::Index>(static_cast<Eigen::Index>(at), 29);
      A(i, j) = 1 - (at - static_cast<double>(j));
      A(i, j + 1) = at - static_cast<double>(j);
    }
    for (Eigen::Index r = 0; r < 29; ++r) L(r, r) = 1, L(r, r + 1) = -2, L(r, r + 2) = 1;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(-error, error);
    b = A * truth;
    blocks.resize(121);
    for (Eigen::Index first = 0; first < 121; first += shared) {
      const double e = uniform(random);
      for (Eigen::Index i = first; i < std::min<Eigen::Index>(first + shared, 121); ++i) {
        b[i] += e;
        for (Eigen::Index r = first; r < std::min<Eigen::Index>(first + shared, 121); ++r)
          blocks[static_cast<std::size_t>(i)].push_back(r);
      }
    }
  }
  double Off(const Eigen::VectorXd& x) const { return (x - truth).cwiseAbs().maxCoeff(); }
};

TEST(SmoothedLeastSquares, FollowsWhatRowsOutsideTheSharedErrorsConfirm) {
  // A smooth curve without error comes back whatever is left out.
  const SampledCurve exact(8, 0);
  EXPECT_LT(exact.Off(SolveSmoothedLeastSquares(exact.A, exact.b, exact.L, exact.none).x), 1e-6);
  EXPECT_LT(exact.Off(SolveSmoothedLeastSquares(exact.A, exact.b, exact.L, exact.blocks).x), 1e-6);
  // Errors shared by blocks of 8 rows: left out with their block, the rows choose a smoothing
  // that keeps the curve; each row left out alone, the others of its block vouch for its error
  // and the fit follows the blocks.
  const SampledCurve blocky(8, 0.05);
  const SmoothedLeastSquares shared =
      SolveSmoothedLeastSquares(blocky.A, blocky.b, blocky.L, blocky.blocks);
  const SmoothedLeastSquares alone =
      SolveSmoothedLeastSquares(blocky.A, blocky.b, blocky.L, blocky.none);
  EXPECT_GT(shared.weight, 100 * alone.weight);
  EXPECT_LT(blocky.Off(shared.x), 0.5 * 0.05);
  EXPECT_GT(blocky.Off(alone.x), 0.8 * 0.05);
  EXPECT_LT(shared.effectiveUnknowns, alone.effectiveUnknowns);
  EXPECT_NEAR(shared.residualNorm, (blocky.A * shared.x - blocky.b).norm(), 1e-12);
  // No more rows than unknowns (every seventh, none two to a node interval): the smoothest exact
  // fit, whatever is left out.
  Eigen::MatrixXd few(18, 31);
  Eigen::VectorXd fewB(18);
  for (Eigen::Index k = 0; k < 18; ++k) few.row(k) = blocky.A.row(7 * k), fewB[k] = blocky.b[7 * k];
  const SmoothedLeastSquares exactFit =
      SolveSmoothedLeastSquares(few, fewB, blocky.L, std::vector<std::vector<Eigen::Index>>(18));
  EXPECT_LT(exactFit.residualNorm, 1e-9);
}

TEST(TrimCoils, ReadsFieldsPerAmpereInEitherUnit) {
  const std::string text =
      "# two coils\n"
      "r_m,A,B_Gs_per_A\n0.1,0,0\n0.2,1e-4,2\n0.3,2D-4,1\n0.4,3e-4,0\n";
  const Result<TrimCoils> coils = TrimCoils::Parse(text, "c.csv");
  ASSERT_TRUE(coils) << coils.message().text;
  ASSERT_EQ(coils->Count(), 2);
  EXPECT_EQ(coils->Names(), (std::vector<std::string>{"A", "B"}));
  EXPECT_DOUBLE_EQ(coils->Profile(1)[1], 2e-4);  // 2 Gs/A
  EXPECT_DOUBLE_EQ(coils->Profile(0)[2], 2e-4);  // Fortran's exponent
  // A natural spline reproduces a straight line; zero outside the listed radii.
  EXPECT_NEAR(coils->FieldPerAmpere(0, 0.25), 1.5e-4, 1e-16);
  EXPECT_EQ(coils->FieldPerAmpere(0, 0.05), 0);
  EXPECT_EQ(coils->FieldPerAmpere(1, 0.41), 0);
  EXPECT_NEAR(coils->FieldPerAmpere(1, 0.2), 2e-4, 1e-18);
}

TEST(TrimCoils, RefusesWhatTheFitCannotUseNamingIt) {
  const struct {
    const char* text;
    const char* part;
  } cases[] = {
      {"r\tA\n0.1\t1\n", "header `r_m`"},
      {"r_m\tA\n0.1\t1\n0.2\t2\n0.3\t1\n", "3 radii"},
      {"r_m\tA\n0.1\t1\n0.2\t2\n0.2\t1\n0.4\t1\n", "line 4: the radius 0.2 m does not increase"},
      {"r_m\tA\tA_Gs_per_A\n0.1\t1\t1\n", "coil A is named twice"},
      {"r_m\tA\tB\n0.1\t1\t0\n0.2\t2\t0\n0.3\t1\t0\n0.4\t1\t0\n", "coil B has no field"},
      {"r_m\tA\tB\n0.1\t1\t2\n0.2\t2\t4\n0.3\t1\t2\n0.4\t1\t2\n",
       "coils A and B have proportional"},
      {"r_m\tA\n0.1\t1\n0.2\tx\n", "line 3: the field of coil A \"x\" is not a number"},
      {"r_m\tA\n0.1\t1\n0.2\t0x10\n", "line 3: the field of coil A \"0x10\" is not a number"},
      {"r_m\tA\n0.1\t1\n0.2\tnan\n", "line 3: the field of coil A \"nan\" is not a number"},
      {"r_m\tA\n0.1\t1\n12abc\t1\n", "line 3: the radius \"12abc\" is not a number"},
      {"r_m\tA\n0.1\t1\ncurrent_A\t1e\n", "the current of coil A \"1e\" is not a number"},
      {"r_m\tA\tB\n0.1\t1\n", "line 2: expected 3 values, found 2"},
  };
  for (const auto& c : cases) {
    const Result<TrimCoils> coils = TrimCoils::Parse(c.text, "coils.tsv");
    ASSERT_FALSE(coils) << c.part;
    EXPECT_EQ(coils.message().text.rfind("coils.tsv: ", 0), 0u) << coils.message().text;
    EXPECT_NE(coils.message().text.find(c.part), std::string::npos) << coils.message().text;
  }
}

TEST(RadialWeights, GiveTheMapsOwnInterpolationOfAnyNodeValues) {
  const std::vector<double> radii = {0.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
  const RadialWeights weights(radii);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> uniform(-1, 1);
  std::vector<double> values(radii.size());
  for (double& v : values) v = uniform(rng);
  for (double R : {0.0, 0.03, 0.1, 0.15, 0.33, 0.5, 0.55, 0.6}) {
    std::vector<double> w(radii.size(), 0.0);
    weights.Accumulate(R, 1.0, w);
    double combined = 0;
    for (std::size_t j = 0; j < w.size(); ++j) combined += w[j] * values[j];
    double direct = 0;
    ASSERT_TRUE(InterpolateTable(radii, values, R, direct).ok());
    EXPECT_NEAR(combined, direct, 1e-14) << R;
  }
}

// An axisymmetric field B(R) = B0 (1 + c (R/R_inf)^2): the closed orbits are circles, and the field
// that makes them isochronous is B0 gamma(R) at every radius they reach.
TEST(FindIsochronousCorrection, AxisymmetricFieldGetsTheRelativisticRise) {
  const test::Ideal ideal;
  const double c = 0.5;
  auto B = [&](double R, double) {
    const double x = R / ideal.rInfinity;
    return ideal.B0 * (1 + c * x * x);
  };
  // Orbits closer together than the radius nodes, so that every node inside the span counts.
  const auto shared = std::make_shared<const PreparedRun>(
      test::MakeRecord(kModeTvk310, 2e-3, 5.0, 35.0, 0.5, test::MapShape{61, 0.6, 36}, B));
  const PreparedRun& record = *shared;
  const Result<MeanFieldCorrection> found =
      FindIsochronousCorrection(record, PreciseOrbitCloser(shared, 2));
  ASSERT_TRUE(found) << found.message().text;
  EXPECT_EQ(found->termination, CorrectionTermination::Converged);
  EXPECT_GT(found->isochronismBefore, 1e-4);
  EXPECT_LT(found->isochronismAfter, 2e-7);
  EXPECT_TRUE(found->excludedEnergiesMeV.empty());
  for (std::size_t i = 0; i < found->radii.size(); ++i) {
    const double R = found->radii[i];
    if (R < found->spanLow + 0.01 || R > found->spanHigh - 0.01) continue;
    const double expected = ideal.B0 * ideal.Gamma(R) - B(R, 0);
    EXPECT_NEAR(found->deltaB[i], expected, 2e-6 * ideal.B0) << R;
  }
}

// A map isochronous by construction, disturbed by known currents in two Gaussian coils: the fit
// finds the opposite currents and the isochronism comes back; a coil set that cannot reach the
// disturbance leaves it and says so.
TEST(FitTrimCoils, UndoesAKnownDisturbanceAndReportsWhatItCannotReach) {
  const test::Ideal ideal;
  std::string table = "r_m\tinner_Gs_per_A\touter_Gs_per_A\tfar_Gs_per_A\n";
  for (int i = 0; i <= 60; ++i) {
    const double r = 0.01 * i;
    char line[160];
    std::snprintf(line, sizeof line, "%.2f\t%.9f\t%.9f\t%.9f\n", r,
                  std::exp(-std::pow((r - 0.2) / 0.06, 2) / 2),
                  std::exp(-std::pow((r - 0.35) / 0.06, 2) / 2),
                  std::exp(-std::pow((r - 0.58) / 0.01, 2) / 2));
    table += line;
  }
  const Result<TrimCoils> coils = TrimCoils::Parse(table, "coils.tsv");
  ASSERT_TRUE(coils) << coils.message().text;
  const double currents[] = {30, -20, 0};
  auto B = [&](double R, double) {
    double b = ideal.B0 * ideal.Gamma(R);
    for (int k = 0; k < 3; ++k) b += currents[k] * coils->FieldPerAmpere(k, R);
    return b;
  };
  const auto shared = std::make_shared<const PreparedRun>(
      test::MakeRecord(kModeTvk310, 2e-3, 5.0, 30.0, 2.5, test::MapShape{61, 0.6, 36}, B));
  const PreparedRun& record = *shared;
  const OrbitCloser close = PreciseOrbitCloser(shared, 2);
  TrimFitOptions options;
  const Result<TrimFit> fit = FitTrimCoils(record, *coils, close, options);
  ASSERT_TRUE(fit) << fit.message().text;
  EXPECT_GT(fit->isochronismBefore, 3e-4);
  EXPECT_NEAR(fit->currents[0], -30, 0.3);
  EXPECT_NEAR(fit->currents[1], 20, 0.2);
  EXPECT_LT(fit->isochronismAfter, 1e-6);
  EXPECT_EQ(fit->noEffect, std::vector<int>{2});  // far outside every orbit
  EXPECT_LT(fit->conditionNumber, 10);

  // The outer coil alone within 5 A cannot undo 30 A of the inner one: the residual is reported
  // as it is, and the coil sits at its limit.
  const std::string oneCoil =
      "r_m\touter\n0.0\t0\n0.2\t1e-6\n0.3\t5e-5\n0.35\t1e-4\n0.4\t5e-5\n0.6\t0\n";
  const Result<TrimCoils> outer = TrimCoils::Parse(oneCoil, "one.tsv");
  ASSERT_TRUE(outer);
  options.limits = {5};
  const Result<TrimFit> partial = FitTrimCoils(record, *outer, close, options);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->atLimit, std::vector<int>{0});
  EXPECT_NEAR(std::fabs(partial->currents[0]), 5, 1e-9);
  EXPECT_GT(partial->isochronismAfter, 0.3 * partial->isochronismBefore);
  std::vector<EnergyOrbit> check;
  const std::vector<double> nodes = CoilNodeFields(*outer, record.radii)[0];
  std::vector<double> change(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) change[i] = partial->currents[0] * nodes[i];
  const Result<Closing> closing = close(FieldWithMeanChange(record, change), check);
  ASSERT_TRUE(closing);
  EXPECT_EQ(*closing, Closing::Closed);
  double worst = 0;
  for (double e : IsochronismOf(record, check))
    if (e != kNoValue) worst = std::max(worst, std::fabs(e));
  EXPECT_NEAR(partial->isochronismAfter, worst, 1e-9);  // to the closure tolerance
}

// A search on a shared run ends at its iteration limit with the best found so far and leaves the
// run as it was; a stop asked before the search closes no orbit at all and gives nothing.
TEST(Searches, OnASharedRunEndAtTheirLimitAndLeaveTheRunAsItWas) {
  const test::Ideal ideal;
  auto B = [&](double R, double) {
    const double x = R / ideal.rInfinity;
    return ideal.B0 * (1 + 0.5 * x * x);
  };
  const auto shared = std::make_shared<const PreparedRun>(
      test::MakeRecord(kModeTvk310, 2e-3, 5.0, 20.0, 5.0, test::MapShape{61, 0.6, 36}, B));
  const PreparedRun before = *shared;
  IsochroniseOptions once;
  once.maxIterations = 1;
  const Result<MeanFieldCorrection> limited =
      FindIsochronousCorrection(*shared, PreciseOrbitCloser(shared, 2), once);
  ASSERT_TRUE(limited) << limited.message().text;
  EXPECT_EQ(limited->termination, CorrectionTermination::IterationLimit);
  EXPECT_EQ(limited->iterations, 1);
  EXPECT_LT(limited->isochronismAfter, limited->isochronismBefore);
  EXPECT_EQ(shared->field, before.field);
  EXPECT_EQ(shared->moments, before.moments);

  StopSource stop;
  stop.RequestStop();
  int calls = 0;
  IsochroniseOptions counted;
  counted.iterationDone = [&](int, double) { ++calls; };
  const Result<MeanFieldCorrection> stopped =
      FindIsochronousCorrection(*shared, PreciseOrbitCloser(shared, 2, stop.Token()), counted);
  // Stopped before its first step: nothing to keep, and no box for it.
  std::vector<EnergyOrbit> orbits;
  EXPECT_EQ(*PreciseOrbitCloser(shared, 2, stop.Token())(shared->field, orbits), Closing::Stopped);
  ASSERT_FALSE(stopped);
  EXPECT_TRUE(stopped.failure().quiet);
  EXPECT_EQ(stopped.message().text, kStoppedText);
  EXPECT_EQ(calls, 0);
  const Result<TrimCoils> coils =
      TrimCoils::Parse("r_m\tA\n0.0\t0\n0.2\t1e-6\n0.3\t5e-5\n0.4\t1e-4\n0.6\t0\n", "a.tsv");
  ASSERT_TRUE(coils);
  const Result<TrimFit> fit =
      FitTrimCoils(*shared, *coils, PreciseOrbitCloser(shared, 2, stop.Token()), TrimFitOptions{});
  ASSERT_FALSE(fit);
  EXPECT_EQ(fit.message().text, kStoppedText);
}

}  // namespace
}  // namespace zuba
