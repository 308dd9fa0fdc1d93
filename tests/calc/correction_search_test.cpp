// What the corrections can justify and how they end: a smooth mean-field bump on the ring example
// comes back opposite, node noise the orbits cannot determine gives a smooth correction and an
// honest report, the RF phase against its hand-computed slip on a uniform field, a response probe
// that loses an orbit, energies left out or weighted, a search stopped between its steps.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>

#include "calc/corrections/isochronise.h"
#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "numerics/average_field.h"
#include "tests/orbit/test_support.h"
#include "tests/precise/precise_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

bool Mentions(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

// The ring example as `zuba-cli isochronise` runs it: protons 80 .. 560 MeV in 4 MeV steps.
PreparedRun RingExample() {
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = ZUBA_EXAMPLES_DIR "/ring-590.sdf";
  p.ParticleName = "p";
  p.m0 = 1.007276466812;
  p.Q = 1;
  p.Frf = 50.65;
  p.H = 6;
  p.N = 8;
  p.EkBegin = 80;
  p.EkEnd = 560;
  p.dEk = 4;
  const Result<SharedRun> prepared = PrepareCalculation(p);
  EXPECT_TRUE(prepared);
  return prepared ? **prepared : PreparedRun{};
}

// Adds dB(R) (T) at every azimuth of the record's map.
template <class F>
void AddToMeanField(PreparedRun& record, F dB) {
  for (int32_t i = 0; i < record.nR; ++i)
    for (int32_t j = 0; j < record.nTheta; ++j)
      record.field[static_cast<std::size_t>(i) * record.nTheta + j] += dB(i, record.radii[i]);
}

TEST(SmoothCorrection, ABumpOnTheRingComesBackOppositeAndSmooth) {
  PreparedRun record = RingExample();
  auto bump = [](double R) { return 3e-4 * std::exp(-0.5 * std::pow((R - 3.5) / 0.2, 2)); };
  AddToMeanField(record, [&](int32_t, double R) { return bump(R); });
  const Result<MeanFieldCorrection> found =
      FindIsochronousCorrection(record, PreciseOrbitCloser(test::Share(record), 2));
  ASSERT_TRUE(found) << found.message().text;
  EXPECT_GT(found->isochronismBefore, 1e-4);
  EXPECT_LT(found->isochronismAfter, 2e-6);
  EXPECT_LT(found->phaseDegAfter, 0.01 * found->phaseDegBefore);
  for (std::size_t j = 0; j < found->radii.size(); ++j) {
    const double R = found->radii[j];
    if (R < found->spanLow || R > found->spanHigh) continue;
    EXPECT_NEAR(found->deltaB[j], -bump(R), 0.05 * 3e-4) << R;
  }
  const CorrectionShape shape = ShapeOf(*found);
  EXPECT_LE(shape.totalVariation, 4 * shape.range);
  EXPECT_LT(shape.largest, 2e-3);
}

TEST(SmoothCorrection, NodeNoiseTheOrbitsCannotDetermineStaysSmoothAndIsReported) {
  PreparedRun record = RingExample();
  // 0.05 mT from radius node to radius node, the same at every azimuth: a mean-field error that
  // changes faster than the orbits, 2 to 3 cm apart, can tell.
  std::mt19937 random(11);
  std::normal_distribution<double> normal(0, 5e-5);
  std::vector<double> noise(static_cast<std::size_t>(record.nR));
  for (double& n : noise) n = normal(random);
  AddToMeanField(record, [&](int32_t i, double) { return noise[i]; });
  const Result<MeanFieldCorrection> found =
      FindIsochronousCorrection(record, PreciseOrbitCloser(test::Share(record), 2));
  ASSERT_TRUE(found) << found.message().text;
  const CorrectionShape shape = ShapeOf(*found);
  EXPECT_LE(shape.totalVariation, 4 * shape.range);
  EXPECT_LT(shape.largest, 2e-3);
  EXPECT_LE(found->isochronismAfter, found->isochronismBefore);
  // The target is out of reach, and it says so.
  EXPECT_FALSE(found->converged());
  EXPECT_NE(found->termination, CorrectionTermination::Stopped);
  EXPECT_TRUE(Mentions(CorrectionWarnings(record, *found),
                       "Warning: the target 2e-07 was not "
                       "reached: worst residual"));
}

// An axisymmetric field B(R) = B0 (1 - 0.05 R / R_inf), B0 = m omega0 / q: the orbits are circles
// of q B(R) R = p, revolving at q B(R) / (2 pi gamma m), so F0 H / Frf - 1 = B(R) / (B0 gamma) - 1,
// and the RF phase follows by hand.
struct SlopedField {
  test::Ideal ideal;
  PreparedRun record =
      test::MakeRecord(kModeTvk310, 2e-3, 5.0, 55.0, 10.0, test::MapShape{76, 0.75, 36},
                       [this](double R, double) { return B(R, 0); });
  static constexpr double kGain = 0.1;  // MeV per turn
  double B(double R, double dB) const { return ideal.B0 * (1 - 0.05 * R / ideal.rInfinity) + dB; }
  // The error at energy k with a uniform dB (T) added, its orbit radius found by Newton's method.
  double Error(int k, double dB) const {
    const double gamma = test::GammaOfMeV(5.0 + 10.0 * k);
    const double p = ideal.mass * kSpeedOfLight * std::sqrt(gamma * gamma - 1);
    double R = p / (ideal.charge * ideal.B0);
    for (int i = 0; i < 50; ++i) {
      const double f = ideal.charge * B(R, dB) * R - p;
      const double df = ideal.charge * (B(R, dB) - 0.05 * ideal.B0 * R / ideal.rInfinity);
      R -= f / df;
    }
    return B(R, dB) / (ideal.B0 * gamma) - 1;
  }
  // The RF phase at energy k: 360 dEk / gain turns per step, each slipping by H (1/(1 + e) - 1).
  double Phase(int k, double dB = 0) const {
    double sum = 0;
    for (int i = 0; i < k; ++i) sum += 1 / (1 + Error(i, dB)) - 1;
    return 360 * record.run.H * (10.0 / kGain) * sum;
  }
  double LargestPhase(double dB) const {
    double largest = 0;
    for (int k = 0; k < 6; ++k) largest = std::max(largest, std::fabs(Phase(k, dB)));
    return largest;
  }
  double SumOfSquares(double dB) const {
    double sum = 0;
    for (int k = 0; k < 6; ++k) sum += Phase(k, dB) * Phase(k, dB);
    return sum;
  }
};

TEST(RfPhase, MatchesTheSlipComputedByHandBeforeAndVanishesAfter) {
  const SlopedField sloped;
  IsochroniseOptions options;
  options.gainPerTurnMeV = SlopedField::kGain;
  const Result<MeanFieldCorrection> found = FindIsochronousCorrection(
      sloped.record, PreciseOrbitCloser(test::Share(sloped.record), 2), options);
  ASSERT_TRUE(found) << found.message().text;
  ASSERT_EQ(found->phaseBefore.size(), 6u);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(found->errorBefore[k], sloped.Error(k, 0), 1e-8) << k;
    EXPECT_NEAR(found->phaseBefore[k], sloped.Phase(k), 1e-5 * sloped.Phase(5)) << k;
  }
  EXPECT_GT(sloped.Phase(5), 1000);  // late: revolving too slowly
  EXPECT_NEAR(found->phaseDegBefore, sloped.Phase(5), 1e-5 * sloped.Phase(5));
  EXPECT_LT(found->phaseDegAfter, 1e-3 * found->phaseDegBefore);
}

TEST(RfPhase, TheFitOfThePhaseFindsTheMinimumComputedByHand) {
  const SlopedField sloped;
  // One coil whose field is the same everywhere, 1e-4 T/A.
  const Result<TrimCoils> coil =
      TrimCoils::Parse("r_m\tflat\n0\t1e-4\n0.25\t1e-4\n0.5\t1e-4\n0.75\t1e-4\n", "flat.tsv");
  ASSERT_TRUE(coil);
  TrimFitOptions options;
  options.target = TrimTarget::Phase;
  options.gainPerTurnMeV = SlopedField::kGain;
  const OrbitCloser close = PreciseOrbitCloser(test::Share(sloped.record), 2);
  const Result<TrimFit> fit = FitTrimCoils(sloped.record, *coil, close, options);
  ASSERT_TRUE(fit) << fit.message().text;
  const double I = fit->currents[0], dB = 1e-4 * I;
  EXPECT_NEAR(fit->phaseDegAfter, sloped.LargestPhase(dB), 1e-4 * sloped.LargestPhase(dB));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(fit->phaseAfter[k], sloped.Phase(k, dB), 1e-3) << k;
  // The least sum of squares of the phase by hand, to a thousandth of the current.
  const double step = 1e-3 * std::fabs(I);
  EXPECT_LT(sloped.SumOfSquares(dB), sloped.SumOfSquares(1e-4 * (I + step)));
  EXPECT_LT(sloped.SumOfSquares(dB), sloped.SumOfSquares(1e-4 * (I - step)));
  // The isochronism target weighs every energy alike and asks for another current.
  options.target = TrimTarget::Isochronism;
  const Result<TrimFit> iso = FitTrimCoils(sloped.record, *coil, close, options);
  ASSERT_TRUE(iso);
  EXPECT_GT(std::fabs(iso->currents[0] - I), 0.02 * std::fabs(I));
}

// The map isochronous by construction with the field of two Gaussian coils added at 30 and -20 A.
struct DisturbedMap {
  test::Ideal ideal;
  TrimCoils coils = *TrimCoils::Parse(Table(), "coils.tsv");
  PreparedRun record;
  DisturbedMap() {
    const double currents[] = {30, -20};
    record = test::MakeRecord(kModeTvk310, 2e-3, 5.0, 30.0, 2.5, test::MapShape{61, 0.6, 36},
                              [&](double R, double) {
                                double b = ideal.B0 * ideal.Gamma(R);
                                for (int k = 0; k < 2; ++k)
                                  b += currents[k] * coils.FieldPerAmpere(k, R);
                                return b;
                              });
  }
  static std::string Table() {
    std::string table = "r_m\tinner_Gs_per_A\touter_Gs_per_A\n";
    for (int i = 0; i <= 60; ++i) {
      const double r = 0.01 * i;
      char line[120];
      std::snprintf(line, sizeof line, "%.2f\t%.9f\t%.9f\n", r,
                    std::exp(-std::pow((r - 0.2) / 0.06, 2) / 2),
                    std::exp(-std::pow((r - 0.35) / 0.06, 2) / 2));
      table += line;
    }
    return table;
  }
};

// The orbit of the first energy (5 MeV, R = 0.19 m, where the inner coil is strongest) is lost
// whenever the field at its radius rises more than `ceiling` (T) above the map's: a probe of the
// inner coil loses it.
OrbitCloser OnTheVerge(const PreparedRun& record, double ceiling) {
  const std::size_t node = 19 * static_cast<std::size_t>(record.nTheta);  // R = 0.19 m
  return [&record, ceiling, node, close = PreciseOrbitCloser(test::Share(record), 2)](
             std::span<const double> field, std::vector<EnergyOrbit>& orbits) {
    const Result<Closing> closing = close(field, orbits);
    if (closing && field[node] - record.field[node] > ceiling) {
      orbits[0].closed = false;
      orbits[0].tau.clear();
      orbits[0].R.clear();
    }
    return closing;
  };
}

TEST(ProbeThatLosesAnOrbit, IsMadeAgainSmallerOrLeavesTheEnergyOutNeverAZeroObjective) {
  const DisturbedMap map;
  // The inner coil's probe raises the field there by about 1.7e-5 T: a quarter of it closes.
  const struct {
    double ceiling;
    bool leftOut;
  } cases[] = {{1e-5, false}, {0.0, true}};
  for (const auto& c : cases) {
    const Result<TrimFit> fit =
        FitTrimCoils(map.record, map.coils, OnTheVerge(map.record, c.ceiling), {});
    ASSERT_TRUE(fit) << fit.message().text;
    EXPECT_NEAR(fit->currents[0], -30, 0.3) << c.ceiling;
    EXPECT_NEAR(fit->currents[1], 20, 0.2) << c.ceiling;
    EXPECT_LT(fit->isochronismAfter, 1e-6) << c.ceiling;
    EXPECT_EQ(fit->lostInIterationMeV, c.leftOut ? std::vector<double>{5.0} : std::vector<double>{})
        << c.ceiling;
    EXPECT_EQ(Mentions(CorrectionWarnings(map.record, *fit), "5 MeV were lost"), c.leftOut);
  }
}

TEST(TrimFitEnergies, LeftOutOrWeightedAsAskedAndRefusedWhenNoneIsLeft) {
  const DisturbedMap map;  // 5 .. 30 MeV in 2.5 MeV steps
  const struct {
    std::vector<EnergyRange> exclude;
    std::vector<EnergyWeight> weights;
    std::vector<double> expected;  // per energy; empty: refused
    const char* said;
  } cases[] = {
      {{{5, 10}}, {{{20, 30}, 4}, {{27, 28}, 0.5}}, {0, 0, 0, 1, 1, 1, 4, 4, 4, 0.5, 4}, ""},
      {{{0, 100}}, {}, {}, "leave no energy of the run"},
      {{}, {{{5, 10}, 0}}, {}, "The weight 0 of 5:10 MeV is not a number above 0"},
      {{{10, 5}}, {}, {}, "5 MeV has its low end above its high end"},
  };
  for (const auto& c : cases) {
    const Result<std::vector<double>> weights = EnergyWeightsOf(map.record, c.exclude, c.weights);
    if (c.expected.empty()) {
      ASSERT_FALSE(weights) << c.said;
      EXPECT_NE(weights.message().text.find(c.said), std::string::npos) << weights.message().text;
    } else {
      ASSERT_TRUE(weights) << weights.message().text;
      EXPECT_EQ(*weights, c.expected);
    }
  }
  // Left out, an energy takes no part; its residuals are still given and flagged.
  TrimFitOptions options;
  options.energyWeights = *EnergyWeightsOf(map.record, {{5, 10}}, {});
  const Result<TrimFit> fit =
      FitTrimCoils(map.record, map.coils, PreciseOrbitCloser(test::Share(map.record), 2), options);
  ASSERT_TRUE(fit) << fit.message().text;
  ASSERT_EQ(fit->excludedEnergiesMeV.size(), 3u);
  EXPECT_NEAR(fit->excludedEnergiesMeV[2], 10, 1e-9);
  EXPECT_TRUE(fit->excluded[0] && fit->excluded[2] && !fit->excluded[3]);
  EXPECT_NE(fit->errorAfter[0], kNoValue);
  EXPECT_NEAR(fit->currents[1], 20, 0.2);  // the outer coil still seen by every energy left
}

TEST(CorrectionTermination, AStopBetweenStepsKeepsWhatWasReached) {
  const DisturbedMap map;
  StopSource stop;
  IsochroniseOptions options;
  options.iterationDone = [&](int, double) { stop.RequestStop(); };
  const Result<MeanFieldCorrection> found = FindIsochronousCorrection(
      map.record, PreciseOrbitCloser(test::Share(map.record), 2, stop.Token()), options);
  ASSERT_TRUE(found) << found.message().text;
  EXPECT_EQ(found->termination, CorrectionTermination::Stopped);
  EXPECT_STREQ(TerminationName(found->termination), "stopped");
  EXPECT_EQ(found->iterations, 2);  // the step that was being checked when the stop came
  EXPECT_LT(found->isochronismAfter, found->isochronismBefore);
}

}  // namespace
}  // namespace zuba
