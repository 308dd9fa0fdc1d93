// The equilibrium-orbit search: its search rule, the end of the turn, its bounds, and the physics
// of a near-uniform field, where textbook relations give the answer.
#include "calc/orbits/orbit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "calc/run/driver.h"
#include "platform/message.h"
#include "tests/orbit/test_support.h"
#include "tests/shown.h"

namespace zuba {
namespace {

TEST(OrbitSearch, FirstCorrectionMovesHalfAMillimetreTowardsTheHomeSide) {
  OrbitSearch out;
  out.Update(0.0007);  // the orbit ends outside its start: start further out
  EXPECT_EQ(out.home, 1.0);
  EXPECT_DOUBLE_EQ(out.delta, 0.0005);
  EXPECT_EQ(out.trials, 1);

  OrbitSearch in;
  in.Update(-0.0007);
  EXPECT_EQ(in.home, -1.0);
  EXPECT_DOUBLE_EQ(in.delta, -0.0005);
}

TEST(OrbitSearch, StepsWhileOnTheHomeSideAndReversesWhenTheMismatchGrows) {
  OrbitSearch s;
  s.Update(0.0010);  // delta 0.0005
  s.Update(0.0008);  // smaller: keep the step, delta 0.0010
  EXPECT_DOUBLE_EQ(s.delta, 0.0010);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.0005);
  s.Update(0.0009);  // larger: reverse, delta 0.0005
  EXPECT_DOUBLE_EQ(s.step, -0.0005);
  EXPECT_DOUBLE_EQ(s.delta, 0.0005);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.0010);
  EXPECT_FALSE(s.bisecting);
  EXPECT_EQ(s.trials, 3);
}

TEST(OrbitSearch, BisectsFromTheSavedOffsetOnceTheMismatchCrosses) {
  OrbitSearch s;
  s.Update(0.0010);   // a: delta 0.0005, saved 0
  s.Update(-0.0008);  // b: step 0.00025, delta = saved + step
  EXPECT_TRUE(s.bisecting);
  EXPECT_DOUBLE_EQ(s.step, 0.00025);
  EXPECT_DOUBLE_EQ(s.delta, 0.00025);
  s.Update(-0.0006);  // b again: still across, halve again from the same saved offset
  EXPECT_DOUBLE_EQ(s.step, 0.000125);
  EXPECT_DOUBLE_EQ(s.delta, 0.000125);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.0);
  s.Update(0.0009);  // c: back home, repeat this start radius
  EXPECT_FALSE(s.bisecting);
  EXPECT_DOUBLE_EQ(s.delta, 0.000125);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.000125);
  s.Update(0.0007);  // a, not bisecting, mismatch smaller: step on
  EXPECT_DOUBLE_EQ(s.delta, 0.00025);
}

TEST(OrbitSearch, ZeroMismatchWhileBisectingKeepsTheSavedOffset) {
  OrbitSearch s;
  s.Update(0.0010);
  s.Update(-0.0008);  // bisecting, delta 0.00025, saved 0
  s.Update(0.0);      // d: nothing moves
  EXPECT_TRUE(s.bisecting);
  EXPECT_DOUBLE_EQ(s.delta, 0.00025);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.0);
  s.Update(0.0009);  // a while bisecting: delta += step, saved unchanged
  EXPECT_DOUBLE_EQ(s.delta, 0.0005);
  EXPECT_DOUBLE_EQ(s.savedDelta, 0.0);
}

TEST(Lagrange3, ReproducesAParabola) {
  auto f = [](double x) { return 3 * x * x - 2 * x + 0.5; };
  for (double x : {-1.0, 0.3, 2.0, 2.5})
    EXPECT_NEAR(Lagrange3(x, 0.1, 0.7, 1.9, f(0.1), f(0.7), f(1.9)), f(x), 1e-13);
}

TEST(SampleCapacity, CorrectsTheRoundedCountByRepeatedAddition) {
  RunParameters p;
  ASSERT_TRUE(ApplyPreset(kModeTvk310, p));
  EXPECT_EQ(SampleCapacity(p.T0, p.TIs, p.h), 62832);
  ASSERT_TRUE(ApplyPreset(kModeAvf14N5, p));
  EXPECT_EQ(SampleCapacity(p.T0, p.TIs, p.h), 62832);
  EXPECT_EQ(SampleCapacity(0, 1, 0.25), 4);
  EXPECT_EQ(SampleCapacity(0, 1, 0.3), 4);  // 0.9 < 1: one more step
  // Ten additions of 0.1 give 0.9999999999999999 < 1, so the count becomes 11.
  EXPECT_EQ(SampleCapacity(0, 1, 0.1), 11);
  EXPECT_EQ(SampleCapacity(0, 1, 0.4), 3);  // 1.2 > 1: back to 0.8, then one more
  // Steps so small that a turn would fill gigabytes, and steps that are no steps, are refused.
  EXPECT_EQ(SampleCapacity(0, 2 * Pi(), 1e-8), -1);
  EXPECT_EQ(SampleCapacity(0, 1, 0), -1);
  EXPECT_EQ(SampleCapacity(0, 1, std::nan("")), -1);
}

// A prepared near-uniform proton run with step h = 1e-3 (the tests' coarse step).
struct UniformRun {
  PreparedRun record;
  OrbitInputs prepared;
  double Bu;
  explicit UniformRun(double bu, double flutter = 1e-4) : Bu(bu) {
    record = test::MakeRecord(kModeTvk310, 1e-3, 0.6, 60.6, 6.0, test::MapShape{},
                              test::NearUniform(bu, 4, flutter));
    EXPECT_EQ(record.n, 11);
    EXPECT_EQ(test::PrepareOrbitInputsShown(record, prepared), 1);
  }
  ReferenceField Field() const {
    return ReferenceField(prepared.radialSteps, record.radii, record.azimuths, record.field,
                          prepared.moments);
  }
};

// In a uniform field every circle closes after one turn and revolves at the cyclotron frequency;
// the tiny flutter only lets the average-field tables give a start radius.
TEST(FindEquilibriumOrbit, NearUniformFieldGivesTheCyclotronFrequencyAndGyroRadius) {
  MessageCapture messages;
  UniformRun run(1.75);
  const double B0 = run.record.restMass * (2 * Pi() * run.record.rfFrequency / run.record.run.H) /
                    std::fabs(run.record.charge);  // T, field of the ideal orbit at rest
  OrbitSamples samples;
  int radiiChecked = 0;
  for (int32_t i = 0; i < run.record.n; ++i) {
    const double Ek = run.record.Ek[i];
    OrbitResult r;
    ASSERT_EQ(test::FindEquilibriumOrbitShown(run.prepared.constants, run.prepared.tables(),
                                              run.Field(), Ek, samples, r),
              1);
    test::FreeParticle particle(Ek, run.record.restMass);
    EXPECT_NEAR(r.F0 / particle.CyclotronFrequency(run.record.charge, run.Bu, run.record.restMass),
                1.0, 1e-8)
        << "energy " << i;
    if (std::fabs(run.Bu / (particle.gamma * B0) - 1) <= 0.02) {
      EXPECT_NEAR(r.Rmn / particle.GyroRadius(run.record.charge, run.Bu), 1.0, 1e-4)
          << "energy " << i;
      ++radiiChecked;
    }
    // A circle closes at once: the first trial is accepted with its own mismatch.
    EXPECT_EQ(r.trials, 1);
    EXPECT_TRUE(r.converged);
    EXPECT_LE(std::fabs(r.dReo), kOrbitTolerance);
    EXPECT_NEAR(r.Bmn / run.Bu, 1.0, 1e-6);
    EXPECT_NEAR(r.Rev / r.Rmn, 1.0, 1e-6);
  }
  EXPECT_GE(radiiChecked, 5);
  EXPECT_TRUE(messages.texts().empty());
}

// Without any N-th harmonic the radius correction is the marker 2147483647.0 at every node: the
// fixed point settles there and the start radius lies near the centre of the machine.
TEST(StartRadius, SettlesOnTheMarkerWhereTheMapHasNoHarmonic) {
  const std::vector<double> radii{0.0, 0.25, 0.5, 0.75, 1.0};
  const std::vector<double> marker(radii.size(), 2147483647.0), zero(radii.size(), 0.0);
  OrbitConstants constants;
  constants.rInfinity = 1.8;  // m
  const double beta = 0.5;
  double y = 0, r0 = 0;
  ASSERT_EQ(ShowOutcome(
                StartRadius(constants, AverageFieldTables{radii, marker, zero, zero}, beta, y, r0)),
            1);
  EXPECT_EQ(y, 2147483647.0);
  EXPECT_EQ(r0, 1.8 / 2147483648.0 * beta);
}

TEST(FindEquilibriumOrbit, SamplesStartAtTheStartStateAndEndPastOneTurn) {
  UniformRun run(1.75);
  OrbitSamples samples;
  OrbitResult r;
  const double Ek = run.record.Ek[3];
  ASSERT_EQ(test::FindEquilibriumOrbitShown(run.prepared.constants, run.prepared.tables(),
                                            run.Field(), Ek, samples, r),
            1);
  const size_t m = samples.Size();
  ASSERT_GT(m, 3u);
  for (auto* t : {&samples.vR, &samples.theta, &samples.w, &samples.tau, &samples.B})
    EXPECT_EQ(t->size(), m);
  EXPECT_EQ(samples.tau[0], run.prepared.constants.T0);
  EXPECT_EQ(samples.w[0], 1.0);
  // theta_s = 3 pi / (2N) + psi_s; the turn ends on the first sample at or past theta_s + 2 pi.
  const double thetaS = samples.theta[0];
  EXPECT_GE(samples.theta[m - 1] - thetaS, 2 * Pi());
  EXPECT_LT(samples.theta[m - 2] - thetaS, 2 * Pi());
  // tau advances by h, one addition per step.
  double tau = samples.tau[0];
  for (size_t k = 1; k < m; ++k) {
    tau = tau + run.prepared.constants.h;
    ASSERT_EQ(samples.tau[k], tau);
  }
}

// Counts the evaluations of a field (the search must share one per step among the four stages).
template <class Field>
struct CountingField {
  const Field& field;
  mutable long calls = 0;
  Outcome Evaluate(double R, double theta, double& B) const {
    ++calls;
    return field.Evaluate(R, theta, B);
  }
};

TEST(FindEquilibriumOrbit, EvaluatesTheFieldOncePerStep) {
  UniformRun run(1.75);
  const ReferenceField reference = run.Field();
  CountingField<ReferenceField> counting{reference};
  OrbitSamples samples;
  OrbitResult r;
  ASSERT_EQ(test::FindEquilibriumOrbitShown(run.prepared.constants, run.prepared.tables(), counting,
                                            run.record.Ek[0], samples, r),
            1);
  ASSERT_EQ(r.trials, 1);
  // steps (m - 1), the final state, and the end of the turn.
  EXPECT_EQ(counting.calls, static_cast<long>(samples.Size()) + 1);
}

// A field whose value does not depend on the position at all.
struct ConstantField {
  double B;
  Outcome Evaluate(double, double, double& value) const {
    value = B;
    return {};
  }
};

TEST(FindEquilibriumOrbit, FieldOfTheWrongSignStopsAtTheStepBound) {
  MessageCapture messages;
  UniformRun run(1.75);
  OrbitSamples samples;
  OrbitResult r;
  EXPECT_EQ(test::FindEquilibriumOrbitShown(run.prepared.constants, run.prepared.tables(),
                                            ConstantField{-1.75}, run.record.Ek[2], samples, r),
            0);
  ASSERT_EQ(messages.messages().size(), 1u);
  const Message m = messages.messages()[0];
  EXPECT_EQ(m.caption, "Error");
  EXPECT_EQ(m.text, "The orbit did not complete a turn within " +
                        std::to_string(MaxTrialSteps(run.prepared.constants)) +
                        " integration steps!");
}

TEST(FindEquilibriumOrbit, TurnOfFewerThanThreeSamplesFails) {
  MessageCapture messages;
  UniformRun run(1.75);
  OrbitConstants coarse = run.prepared.constants;
  coarse.h = 7.0;  // one step passes a whole turn
  coarse.nSteps = 1;
  OrbitSamples samples;
  OrbitResult r;
  EXPECT_EQ(test::FindEquilibriumOrbitShown(coarse, run.prepared.tables(), ConstantField{1.75},
                                            run.record.Ek[2], samples, r),
            0);
  ASSERT_EQ(messages.texts().size(), 1u);
  EXPECT_EQ(messages.texts()[0],
            "Integration step too large: one turn gives 2 orbit samples, at least 3 are needed!");
}

// A field that grows along the unwrapped azimuth: every turn ends inside its start, wherever it
// starts, so the search cannot close it.
struct RisingField {
  double B;
  Outcome Evaluate(double, double theta, double& value) const {
    value = B * (1 + 0.02 * theta / (2 * Pi()));
    return {};
  }
};

TEST(FindEquilibriumOrbit, HundredTrialsWithoutClosureWarnAndKeepTheLastTrial) {
  MessageCapture messages;
  UniformRun run(1.75);
  OrbitSamples samples;
  OrbitResult r;
  ASSERT_EQ(test::FindEquilibriumOrbitShown(run.prepared.constants, run.prepared.tables(),
                                            RisingField{1.75}, run.record.Ek[4], samples, r),
            1);
  EXPECT_EQ(r.trials, kMaxTrials);
  EXPECT_FALSE(r.converged);
  EXPECT_GT(std::fabs(r.dReo), kOrbitTolerance);
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0],
            (Message{"Calculation accuracy didn't achive!", "Error", Icon::Warning, Owner::None}));
  // The kept samples are those of the hundredth trial, whose mismatch is dReo.
  double tauTurn = 0, dr = 0;
  OrbitSamples again;
  const double Rs = samples.R[0];
  ASSERT_EQ(
      ShowOutcome(TrackTrial(run.prepared.constants, run.prepared.tables(), RisingField{1.75},
                             run.record.Ek[4] + run.prepared.constants.E0, Rs, again, tauTurn, dr)),
      1);
  EXPECT_EQ(dr, r.dReo);
  EXPECT_EQ(again.R, samples.R);
}

TEST(FindEquilibriumOrbit, OrbitLeavingTheMapFailsWithTheFieldMessage) {
  MessageCapture messages;
  PreparedRun record = test::MakeRecord(kModeTvk310, 1e-3, 50, 60, 10, test::MapShape{41, 0.4, 36},
                                        test::NearUniform(1.75, 4));
  OrbitInputs prepared;
  ASSERT_EQ(test::PrepareOrbitInputsShown(record, prepared), 1);
  ReferenceField field(prepared.radialSteps, record.radii, record.azimuths, record.field,
                       prepared.moments);
  OrbitSamples samples;
  OrbitResult r;
  EXPECT_EQ(test::FindEquilibriumOrbitShown(prepared.constants, prepared.tables(), field,
                                            record.Ek[1], samples, r),
            0);
  ASSERT_FALSE(messages.texts().empty());
  EXPECT_EQ(messages.texts()[0], "Radius value error!");
}

}  // namespace
}  // namespace zuba

namespace zuba {
namespace {

// The phase of the N-th harmonic of spiral hills turns past the end of its [-pi/N, pi/N] range;
// the unwrapped table follows the hills and keeps every value's place modulo a period.
TEST(UnwrapHarmonicPhase, FollowsSpiralHillsAcrossTheEndOfTheRange) {
  const int32_t N = 8;
  const double period = kTwoPi / N;
  std::vector<double> turned, wrapped;
  for (int i = 0; i < 40; ++i) {
    turned.push_back(0.02 * i * i / 10.0 - 0.3);  // rad, spiral growing as R^2
    wrapped.push_back(std::remainder(turned.back(), period));
  }
  std::vector<double> psi = wrapped;
  UnwrapHarmonicPhase(psi, N);
  for (int i = 0; i < 40; ++i) EXPECT_NEAR(psi[i], turned[i], 1e-12) << i;
  std::vector<double> flat(10, 0.1);
  UnwrapHarmonicPhase(flat, N);
  EXPECT_EQ(flat, std::vector<double>(10, 0.1));  // nothing to unwrap: unchanged
}

}  // namespace
}  // namespace zuba
