// The precise closure against physics that does not come from this program: the isochronous
// field of a relativistic ion, the uniform field, power-law fields with their textbook tunes, the
// smooth approximation of flutter focusing, and the frequency identity of every closed orbit.
#include "calc/orbits/precise_orbit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <utility>

#include "calc/orbits/precise_turn.h"
#include "numerics/average_field.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"
#include "platform/message.h"
#include "tests/precise/precise_support.h"

namespace zuba {
namespace {

using test::Ideal;
using test::MapShape;
using test::PreparedMap;

constexpr double kCoarseStep = 1e-3;  // rad: a turn of 6284 steps keeps the tests fast

// A matrix that rotates phase space by 2 pi nu, with the half-oscillations of that tune.
OneTurnMatrix Rotation(double nu) {
  const double a = 8 * std::atan(1.0) * nu;
  return {std::cos(a), 0.7 * std::sin(a), -std::sin(a) / 0.7, std::cos(a),
          static_cast<int32_t>(std::floor(2 * nu))};
}

// The ideal isochronous field with a fourfold flutter of a tenth, on 101 radii up to 1 m and 36
// azimuths.
PreparedMap FlutterMap() {
  const Ideal ideal;
  return PreparedMap(kCoarseStep, MapShape{101, 1.0, 36}, [&](double R, double theta) {
    return ideal.B0 * ideal.Gamma(R) * (1 + 0.1 * std::cos(4 * theta));
  });
}

TEST(TuneOfMatrix, TellsTunesAboveAndBelowAWholeNumberApart) {
  for (double nu : {0.23, 0.77, 0.95, 1.05, 1.5001, 2.3}) {
    const Tune t = TuneOfMatrix(Rotation(nu));
    EXPECT_TRUE(t.stable) << nu;
    EXPECT_NEAR(t.value, nu, 1e-12) << nu;
  }
  // Elements off by 1e-9 near a whole or half tune, where the trace alone would give the tune
  // only to the error's square root over the distance (2.5e-8 at 0.001 from it).
  for (double nu : {1.001, 0.999, 1.4995}) {
    OneTurnMatrix m = Rotation(nu);
    m.m11 += 1e-9;
    m.m12 -= 1e-9;
    m.m21 += 1e-9;
    m.m22 += 1e-9;
    EXPECT_NEAR(TuneOfMatrix(m).value, nu, 1e-9) << nu;
  }
}

TEST(TuneOfMatrix, GrowingMotionHasNoTune) {
  const Tune t = TuneOfMatrix({2.0, 1.0, 1.0, 1.0, 0});  // trace / 2 = 1.5
  EXPECT_FALSE(t.stable);
  EXPECT_EQ(t.value, kNoValue);
}

TEST(ClosureMode, NamesRoundTrip) {
  EXPECT_EQ(ParseClosureMode("precise"), ClosureMode::Precise);
  EXPECT_EQ(ParseClosureMode("standard"), ClosureMode::Standard);
  EXPECT_FALSE(ParseClosureMode("Precise").has_value());
  EXPECT_FALSE(ParseClosureMode("described").has_value());
  EXPECT_EQ(ClosureModeName(ClosureMode::Precise), "precise");
}

// In B0 * gamma(R) every energy revolves at omega0 on the centred circle of radius beta c / omega0,
// and its radial tune is gamma (field index beta^2 gamma^2).
TEST(PreciseOrbit, IsochronousAxisymmetricFieldGivesTheIdealCircle) {
  const Ideal ideal;
  PreparedMap map(kCoarseStep, MapShape{101, 1.0, 36},
                  [&](double R, double) { return ideal.B0 * ideal.Gamma(R); });
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  for (double ek : {2.0, 15.0, 60.0}) {
    PreciseOrbitResult r;
    map.Find(ek, samples, r);
    const double gamma = test::GammaOfMeV(ek);
    const double beta = std::sqrt(1 - 1 / (gamma * gamma));
    const double radius = beta * kSpeedOfLight / ideal.omega0;
    EXPECT_EQ(r.status, ClosureStatus::Converged) << ek;
    EXPECT_NEAR(r.Rmn / radius - 1, 0, 1e-9) << ek;
    EXPECT_NEAR(r.F0 / (ideal.omega0 / (8 * std::atan(1.0))) - 1, 0, 1e-9) << ek;
    ASSERT_TRUE(r.nuR.stable);
    EXPECT_NEAR(r.nuR.value, gamma, 1e-6) << ek;
    // The circle is centred: the radius does not change along it.
    const auto [lo, hi] = std::minmax_element(samples.R.begin(), samples.R.end());
    EXPECT_LT(*hi - *lo, 1e-9 * radius) << ek;
    EXPECT_LE(std::fabs(r.dReo), kPreciseToleranceR);
    EXPECT_LE(std::fabs(r.dVr), kPreciseToleranceVr);
  }
  EXPECT_TRUE(capture.messages().empty());
}

// In a uniform field every circle around the centre closes: the one-turn matrix is the identity,
// the Newton step has nothing to divide by and the closure says so instead.
TEST(PreciseOrbit, UniformFieldReportsTheSingularOneTurnMatrix) {
  const double Bu = 1.5;  // T
  PreparedMap map(kCoarseStep, MapShape{101, 1.0, 36}, [&](double, double) { return Bu; });
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  PreciseOrbitResult r;
  map.Find(20.0, samples, r);
  EXPECT_EQ(r.status, ClosureStatus::Singular);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_NE(capture.texts()[0].find("singular"), std::string::npos);
  EXPECT_EQ(capture.messages()[0].icon, Icon::Warning);
  EXPECT_TRUE(std::isfinite(r.F0));
  ASSERT_TRUE(r.nuR.stable);
  EXPECT_NEAR(r.nuR.value, 1.0, 1e-6);
  // Whatever circle it is, it turns at the cyclotron frequency of the field.
  const test::FreeParticle p(20.0 * 1e6 * kElementaryCharge, 1.007276466812 * kKilogramsPerSamu);
  EXPECT_NEAR(
      r.F0 / p.CyclotronFrequency(kElementaryCharge, Bu, 1.007276466812 * kKilogramsPerSamu) - 1, 0,
      1e-9);
}

// B = B1 (R / R1)^k: the linear motion about a circle has nu_r^2 = 1 + k and nu_z^2 = -k whatever
// the energy; k < 0 puts nu_r below 1, which the half-oscillation count tells from 1 + x.
TEST(PreciseOrbit, PowerLawFieldHasTheTextbookTunes) {
  const double k = -0.2, R1 = 0.5, B1 = 1.2;
  PreparedMap map(kCoarseStep, MapShape{101, 1.0, 36},
                  [&](double R, double) { return R > 0 ? B1 * std::pow(R / R1, k) : B1 * 10; });
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  PreciseOrbitResult r;
  map.Find(10.0, samples, r);
  EXPECT_EQ(r.status, ClosureStatus::Converged);
  ASSERT_TRUE(r.nuR.stable);
  ASSERT_TRUE(r.nuZ.stable);
  EXPECT_NEAR(r.nuR.value, std::sqrt(1 + k), 1e-6);
  EXPECT_NEAR(r.nuZ.value, std::sqrt(-k), 1e-6);
  EXPECT_EQ(r.radial.halfOscillations, 1);
}

// Radial sectors with sinusoidal flutter f cos(N theta): the smooth approximation gives
// nu_z^2 = -k + N^2 / (N^2 - 1) * f^2 / 2.
TEST(PreciseOrbit, FlutterFocusingFollowsTheSmoothApproximation) {
  const Ideal ideal;
  const int32_t N = 4;
  const double f = 0.4;
  PreparedMap map(
      kCoarseStep, MapShape{101, 1.0, 72},
      [&](double R, double theta) {
        return ideal.B0 * ideal.Gamma(R) * (1 + f * std::cos(N * theta));
      },
      N);
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  for (double ek : {5.0, 15.0}) {
    PreciseOrbitResult r;
    map.Find(ek, samples, r);
    EXPECT_EQ(r.status, ClosureStatus::Converged) << ek;
    const double gamma = test::GammaOfMeV(ek);
    const double fieldIndex = gamma * gamma - 1;  // beta^2 gamma^2 of B0 gamma(R)
    const double smooth = -fieldIndex + N * N / (N * N - 1.0) * f * f / 2;
    ASSERT_TRUE(r.nuZ.stable) << ek;
    EXPECT_NEAR(r.nuZ.value * r.nuZ.value / smooth, 1.0, 0.2) << ek;
    ASSERT_TRUE(r.nuR.stable) << ek;
    EXPECT_GT(r.nuR.value, 1.0) << ek;
  }
  EXPECT_TRUE(capture.messages().empty());
}

// The vertical motion about a scalloped closed orbit in its own equations, d2z/dtau2 = (K / E) z
// (R w dB/dR - (vR / R) dB/dtheta), integrated with fixed Runge-Kutta steps in theta from the
// closed orbit's start along with the orbit, gives the closure's vertical tune: the closure
// integrates it in other variables (which take the azimuthal slope of the field into them).
TEST(PreciseOrbit, VerticalTuneAgreesWithTheEquationsOfMotionIntegratedApart) {
  const Ideal ideal;
  const int32_t N = 4;
  PreparedMap map(
      kCoarseStep, MapShape{101, 1.0, 72},
      [&](double R, double theta) {
        return ideal.B0 * ideal.Gamma(R) * (1 + 0.4 * std::cos(N * theta + 3 * R));
      },
      N);
  ASSERT_TRUE(map.ok());
  const double ek = 15.0;
  OrbitSamples samples;
  PreciseOrbitResult r;
  map.Find(ek, samples, r);
  ASSERT_EQ(r.status, ClosureStatus::Converged);
  ASSERT_TRUE(r.nuZ.stable);
  const OrbitConstants& k = map.prepared.constants;
  const double E = k.E0 + ek * 1e6 * kElementaryCharge, kOverE = k.K / E;
  const double V = std::sqrt(1 - (k.E0 / E) * (k.E0 / E)) * k.rInfinity;  // m/rad
  // y = R, vR, then (z, u) of the cosine-like and the sine-like solution.
  using Y = std::array<double, 6>;
  auto slope = [&](double theta, const Y& y) {
    double B = 0, dBdR = 0, dBdTheta = 0;
    EXPECT_TRUE(map.patches->EvaluateWithDerivatives(y[0], theta, B, dBdR, dBdTheta).ok());
    const double w = std::sqrt(V * V - y[1] * y[1]) / y[0];
    const double force = kOverE * (y[0] * w * dBdR - y[1] / y[0] * dBdTheta);
    return Y{y[1] / w, y[0] * (w - kOverE * B), y[3] / w, force * y[2] / w,
             y[5] / w, force * y[4] / w};
  };
  Y y{samples.R.front(), samples.vR.front(), 1, 0, 0, 1};
  const int32_t steps = 144000;
  const double h = 2 * kPi / steps;
  double theta = samples.theta.front();
  auto add = [](const Y& a, const Y& d, double f) {
    Y out;
    for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] + f * d[i];
    return out;
  };
  for (int32_t i = 0; i < steps; ++i, theta += h) {
    const Y k1 = slope(theta, y), k2 = slope(theta + h / 2, add(y, k1, h / 2));
    const Y k3 = slope(theta + h / 2, add(y, k2, h / 2)), k4 = slope(theta + h, add(y, k3, h));
    for (size_t c = 0; c < y.size(); ++c) y[c] += h / 6 * (k1[c] + 2 * k2[c] + 2 * k3[c] + k4[c]);
  }
  EXPECT_NEAR(y[0], samples.R.front(), 1e-9);  // the orbit is closed
  EXPECT_NEAR((y[2] + y[5]) / 2, std::cos(2 * kPi * r.nuZ.value), 1e-8);
}

// On a closed orbit the velocity turns once per turn at the rate q B / (gamma m), so
// F0 = |q| Bmn / (2 pi gamma m) with the time-mean field; a spiral, scalloped orbit tests it.
TEST(PreciseOrbit, ClosedOrbitsObeyTheFrequencyIdentity) {
  const Ideal ideal;
  const int32_t N = 3;
  PreparedMap map(
      kCoarseStep, MapShape{81, 0.8, 90},
      [&](double R, double theta) {
        const double xi = 0.9 * R * R;  // rad, spiral of the hills
        return ideal.B0 * ideal.Gamma(R) *
               (1.01 + 0.35 * std::cos(N * (theta - xi)) + 0.02 * std::cos(theta) +
                0.5 * R * R * 0.01);
      },
      N);
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  for (double ek : {3.0, 25.0, 55.0}) {
    PreciseOrbitResult r;
    map.Find(ek, samples, r);
    EXPECT_EQ(r.status, ClosureStatus::Converged) << ek;
    const double gamma = test::GammaOfMeV(ek);
    const double identity =
        std::fabs(ideal.charge * r.Bmn) / (8 * std::atan(1.0) * gamma * ideal.mass);
    EXPECT_NEAR(r.F0 / identity - 1, 0, 1e-9) << ek;
    // The orbit really is scalloped, and it closes on itself.
    const auto [lo, hi] = std::minmax_element(samples.R.begin(), samples.R.end());
    EXPECT_GT(*hi - *lo, 1e-3) << ek;
    EXPECT_NEAR(samples.R.back(), samples.R.front(), kPreciseToleranceR) << ek;
    EXPECT_NEAR(samples.vR.back(), samples.vR.front(), kPreciseToleranceVr) << ek;
  }
  EXPECT_TRUE(capture.messages().empty());
}

TEST(PreciseOrbit, TurnSamplesCoverExactlyOneTurn) {
  const Ideal ideal;
  PreparedMap map(kCoarseStep, MapShape{101, 1.0, 36},
                  [&](double R, double) { return ideal.B0 * ideal.Gamma(R); });
  ASSERT_TRUE(map.ok());
  OrbitSamples samples;
  PreciseTurn turn;
  const double E = map.prepared.constants.E0 * 1.01;
  const double V = std::sqrt(1 - 1 / (1.01 * 1.01)) * map.prepared.constants.rInfinity;
  ASSERT_TRUE(ShowOutcome(TrackPreciseTurn(map.prepared.constants, *map.patches, E, V, 0.3, 0.001,
                                           0.2, samples, turn)));
  // The samples lie on the map's azimuth nodes (every 10 degrees), each interval divided in five
  // to 2 degrees, from the start to the end of the turn (182 = 180 + 2, or 181 with a grid
  // azimuth near the start left out).
  ASSERT_GE(samples.Size(), 181u);
  ASSERT_LE(samples.Size(), 182u);
  EXPECT_NEAR(PreciseSampleSpacing(*map.patches), 2 * std::atan(1.0) / 45, 1e-15);
  EXPECT_EQ(samples.theta.front(), 0.2);
  EXPECT_DOUBLE_EQ(samples.theta.back() - samples.theta.front(), 8 * std::atan(1.0));
  for (size_t k = 1; k < samples.Size(); ++k) EXPECT_GT(samples.theta[k], samples.theta[k - 1]);
  for (int32_t node = 0; node < 36; ++node) {
    double at = node * 8 * std::atan(1.0) / 36;  // in the turn from 0.2
    if (at < 0.2) at += 8 * std::atan(1.0);
    EXPECT_TRUE(std::any_of(samples.theta.begin(), samples.theta.end(),
                            [&](double t) { return std::fabs(t - at) < 1e-12; }))
        << "azimuth node " << node;
  }
  for (size_t k = 1; k < samples.Size(); ++k)
    EXPECT_LT(samples.theta[k] - samples.theta[k - 1], 1.25 * kMaxPreciseSampleSpacing + 1e-12);
  EXPECT_EQ(samples.tau.back(), turn.tauTurn);
  // Between the nodes the samples come from the steps' continuous extension: they agree with an
  // integration from the start to their azimuth.
  for (size_t k = 3; k + 1 < samples.Size(); k += 17) {
    OrbitSamples direct;
    PreciseTurn arc;
    ASSERT_TRUE(ShowOutcome(TrackPreciseArc(map.prepared.constants, *map.patches, E, V, 0.3, 0.001,
                                            0.2, samples.theta[k] - 0.2, direct, arc)));
    EXPECT_NEAR(samples.R[k], arc.Rend, 1e-10) << samples.theta[k];
    EXPECT_NEAR(samples.vR[k], arc.vRend, 1e-10) << samples.theta[k];
    EXPECT_NEAR(samples.tau[k], arc.tauTurn, 1e-10) << samples.theta[k];
  }
  // The radial matrix preserves phase-space area, to its accuracy (in units of 100 at the
  // tolerance 1e-10).
  const OneTurnMatrix& m = turn.radial;
  EXPECT_NEAR(m.m11 * m.m22 - m.m12 * m.m21, 1.0, 1e-8);
}

// What each kind of turn integrates: the orbit alone, with the radial matrix following it (a
// Newton turn), or everything. The step control looks only at the orbit in the first two, so their
// orbits agree bit for bit; a matrix not integrated has no tune (never that of a zero matrix).
TEST(PreciseTurn, EachAccuracyIntegratesItsMatricesOnly) {
  const PreparedMap map = FlutterMap();
  ASSERT_TRUE(map.ok());
  const double E = map.prepared.constants.E0 * 1.01;
  const double V = std::sqrt(1 - 1 / (1.01 * 1.01)) * map.prepared.constants.rInfinity;
  using precise_detail::TurnAccuracy;
  PreciseTurn turns[3];
  int32_t k = 0;
  for (const TurnAccuracy accuracy :
       {TurnAccuracy::Path, TurnAccuracy::Orbit, TurnAccuracy::Full}) {
    precise_detail::TurnPath path;
    int64_t steps = 0;
    ASSERT_TRUE(
        ShowOutcome(precise_detail::TrackTurn(map.prepared.constants, *map.patches, E, V, 0.3,
                                              0.001, 0.2, path, turns[k++], steps, accuracy)));
  }
  const PreciseTurn &path = turns[0], &orbit = turns[1], &full = turns[2];
  // The orbit's steps alone decide the first two: the same ends; the time and the means only the
  // full turn gives.
  EXPECT_EQ(path.Rend, orbit.Rend);
  EXPECT_EQ(path.vRend, orbit.vRend);
  for (const PreciseTurn* t : {&path, &orbit})
    for (double value : {t->tauTurn, t->integralR, t->integralB}) EXPECT_TRUE(std::isnan(value));
  for (double value : {full.tauTurn, full.integralR, full.integralB})
    EXPECT_TRUE(std::isfinite(value));
  EXPECT_NEAR(orbit.Rend, full.Rend, 1e-9);
  EXPECT_FALSE(TuneOfMatrix(path.radial).stable);
  EXPECT_FALSE(TuneOfMatrix(path.vertical).stable);
  EXPECT_FALSE(TuneOfMatrix(orbit.vertical).stable);
  for (const OneTurnMatrix* m : {&full.radial, &full.vertical})
    for (double element : {m->m11, m->m12, m->m21, m->m22}) EXPECT_TRUE(std::isfinite(element));
  for (auto [a, b] : {std::pair{orbit.radial.m11, full.radial.m11},
                      {orbit.radial.m12, full.radial.m12},
                      {orbit.radial.m21, full.radial.m21},
                      {orbit.radial.m22, full.radial.m22}})
    EXPECT_NEAR(a, b, 1e-5);
  EXPECT_EQ(orbit.radial.halfOscillations, full.radial.halfOscillations);
}

// A turn with the tunes and another energy's first turn made in turn, their derivatives in the two
// lanes of one register, are the turns made alone, bit for bit: a scalloped orbit, and one that
// leaves the map half-way (the other then goes on alone).
TEST(PreciseTurn, TurnsMadeInTurnAreTheTurnsMadeAlone) {
  const PreparedMap map = FlutterMap();
  ASSERT_TRUE(map.ok());
  const OrbitConstants& constants = map.prepared.constants;
  auto order = [&](double gamma, double R, double vR) {
    const double V = std::sqrt(1 - 1 / (gamma * gamma)) * constants.rInfinity;
    return precise_detail::TurnOrder{constants.E0 * gamma, V, R, vR, 0.2};
  };
  const precise_detail::TurnOrder full = order(1.01, 0.3, 0.001);
  for (const precise_detail::TurnOrder& first :
       {order(1.012, 0.31, -0.002), order(1.012, 0.9, 0.05)}) {
    precise_detail::TurnResult alone[2], inTurn[2];
    for (int k = 0; k < 2; ++k) {
      const precise_detail::TurnOrder& o = k == 0 ? full : first;
      alone[k].outcome = precise_detail::TrackTurn(
          constants, *map.patches, o.E, o.V, o.Rs, o.vRs, o.thetaS, alone[k].path, alone[k].turn,
          alone[k].steps,
          k == 0 ? precise_detail::TurnAccuracy::Full : precise_detail::TurnAccuracy::Orbit);
    }
    precise_detail::TrackTurnsInTurn(constants, *map.patches, full, 0, inTurn[0], first, inTurn[1]);
    ASSERT_TRUE(ShowOutcome(alone[0].outcome));
    EXPECT_EQ(alone[1].outcome.ok(), first.Rs < 0.5);  // the second leaves the map
    for (int k = 0; k < 2; ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(inTurn[k].outcome.ok(), alone[k].outcome.ok());
      EXPECT_EQ(inTurn[k].steps, alone[k].steps);
      const PreciseTurn &a = alone[k].turn, &b = inTurn[k].turn;
      for (auto [x, y] : {std::pair{a.Rend, b.Rend},
                          {a.vRend, b.vRend},
                          {a.radial.m12, b.radial.m12},
                          {a.radial.m21, b.radial.m21}})
        EXPECT_TRUE(x == y || (std::isnan(x) && std::isnan(y))) << x << " " << y;
      EXPECT_EQ(alone[k].path.R, inTurn[k].path.R);
    }
    const PreciseTurn &a = alone[0].turn, &b = inTurn[0].turn;
    for (auto [x, y] : {std::pair{a.tauTurn, b.tauTurn},
                        {a.integralR, b.integralR},
                        {a.integralB, b.integralB},
                        {a.vertical.m11, b.vertical.m11},
                        {a.vertical.m12, b.vertical.m12},
                        {a.vertical.m21, b.vertical.m21}})
      EXPECT_EQ(x, y);
    EXPECT_EQ(a.radial.halfOscillations, b.radial.halfOscillations);
    EXPECT_EQ(a.vertical.halfOscillations, b.vertical.halfOscillations);
    EXPECT_EQ(alone[0].path.tau, inTurn[0].path.tau);
  }
}

// The next energy's first turn made beside a closure's turns with the tunes is kept for it, and
// the next closure takes it: each closure's result is the one it gets alone, its turns and steps
// included.
TEST(PreciseOrbit, NextEnergysFirstTurnIsKeptAndTaken) {
  const PreparedMap map = FlutterMap();
  ASSERT_TRUE(map.ok());
  const OrbitConstants& constants = map.prepared.constants;
  const double ek[2] = {20e6 * kElementaryCharge, 20.5e6 * kElementaryCharge};
  OrbitSamples samples;
  PreciseOrbitResult alone[2];
  alone[0] = FindPreciseOrbit(constants, map.prepared.tables(), *map.patches, ek[0], samples);
  ASSERT_EQ(alone[0].status, ClosureStatus::Converged);
  const OrbitStart seed{alone[0].Rs, alone[0].vRs, alone[0].thetaS};
  alone[1] = FindPreciseOrbit(constants, map.prepared.tables(), *map.patches, ek[1], samples,
                              PreciseStarts{std::span(&seed, 1)});
  ASSERT_EQ(alone[1].status, ClosureStatus::Converged);

  // The next energy seeded from the orbit this one closes on.
  const Kinematics next = KinematicsOf(ek[1], constants.E0);
  precise_detail::NextTurn kept;
  kept.after = [&](const OrbitStart& start, precise_detail::TurnOrder& order) {
    order = {next.E, next.beta * constants.rInfinity, start.R, start.vR, start.thetaS};
    return true;
  };
  PreciseStarts starts;
  starts.next = &kept;
  const PreciseOrbitResult first =
      FindPreciseOrbit(constants, map.prepared.tables(), *map.patches, ek[0], samples, starts);
  ASSERT_TRUE(kept.kept.has_value());
  EXPECT_EQ(kept.kept->Rs, alone[0].Rs);
  kept.after = nullptr;
  // Not for a closure from another start.
  const OrbitStart elsewhere{seed.R + 1e-4, seed.vR, seed.thetaS};
  starts.seeds = std::span(&elsewhere, 1);
  FindPreciseOrbit(constants, map.prepared.tables(), *map.patches, ek[1], samples, starts);
  ASSERT_TRUE(kept.kept.has_value());
  starts.seeds = std::span(&seed, 1);
  const PreciseOrbitResult second =
      FindPreciseOrbit(constants, map.prepared.tables(), *map.patches, ek[1], samples, starts);
  EXPECT_FALSE(kept.kept.has_value());  // taken
  for (int k = 0; k < 2; ++k) {
    const PreciseOrbitResult &a = alone[k], &b = k == 0 ? first : second;
    SCOPED_TRACE(k);
    EXPECT_EQ(b.F0, a.F0);
    EXPECT_EQ(b.Rmn, a.Rmn);
    EXPECT_EQ(b.Rs, a.Rs);
    EXPECT_EQ(b.nuZ.value, a.nuZ.value);
    EXPECT_EQ(b.iterations, a.iterations);
    EXPECT_EQ(b.steps, a.steps);
  }
}

// An energy closed from its estimates alone starts from the orbit that repeats itself after one
// sector where the mean-field estimate is far from it (the eight-sector ring's first arcs end 8 to
// 14 cm off; on 192 azimuths its sectors differ by the ends of the azimuth table, and a first
// harmonic of 1e-4 makes them differ more): the orbit of a whole turn that the estimate itself
// closes, in fewer steps. Where the estimate is close (fourfold flutter of a tenth), the closure
// keeps to whole turns from it after one arc.
TEST(PreciseOrbit, EstimatesCloseFromTheOrbitOfOneSector) {
  struct Case {
    PreparedMap map;
    double cost;  // most steps against those from the estimate itself
  };
  auto ring = [](double error) {
    PreparedRun record = test::RingRecord(150, 300, 150, 71, 192);
    const size_t nTheta = record.azimuths.size();
    for (size_t k = 0; k < record.field.size(); ++k)
      record.field[k] *= 1 + error * std::cos(record.azimuths[k % nTheta]);
    return PreparedMap(std::move(record));
  };
  const Case cases[] = {{ring(0), 0.92}, {ring(1e-4), 0.92}, {FlutterMap(), 1.1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    ASSERT_TRUE(c.map.ok());
    const OrbitConstants& constants = c.map.prepared.constants;
    const AverageFieldTables tables = c.map.prepared.tables();
    OrbitSamples samples;
    for (const double ekMeV : {20.0, 150.0, 300.0}) {
      if ((&c == &cases[2]) != (ekMeV == 20.0)) continue;
      SCOPED_TRACE(ekMeV);
      const double ek = ekMeV * 1e6 * kElementaryCharge;
      const PreciseOrbitResult cold =
          FindPreciseOrbit(constants, tables, *c.map.patches, ek, samples);
      ASSERT_EQ(cold.status, ClosureStatus::Converged) << cold.reason;
      double y = 0;
      OrbitStart estimate;
      ASSERT_TRUE(
          StartRadius(constants, tables, KinematicsOf(ek, constants.E0).beta, y, estimate.R));
      ASSERT_TRUE(
          orbit_detail::TrialStart(constants, tables, estimate.R, estimate.vR, estimate.thetaS));
      const PreciseOrbitResult fromEstimate =
          FindPreciseOrbit(constants, tables, *c.map.patches, ek, samples,
                           PreciseStarts{std::span(&estimate, 1), false});
      ASSERT_EQ(fromEstimate.status, ClosureStatus::Converged);
      EXPECT_LE(cold.steps, c.cost * fromEstimate.steps);
      EXPECT_NEAR(cold.Rs, fromEstimate.Rs, 1e-9);
      EXPECT_NEAR(cold.vRs, fromEstimate.vRs, 1e-9);
      EXPECT_NEAR(cold.nuR.value, fromEstimate.nuR.value, 1e-8);
    }
  }
}

TEST(PreciseOrbit, SpeedLostToRadialMotionIsRefused) {
  const Ideal ideal;
  PreparedMap map(kCoarseStep, MapShape{101, 1.0, 36},
                  [&](double R, double) { return ideal.B0 * ideal.Gamma(R); });
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  PreciseTurn turn;
  const double E = map.prepared.constants.E0 * 1.01;
  const double V = 0.01;  // m/rad, less than the start vR
  EXPECT_FALSE(ShowOutcome(
      TrackPreciseTurn(map.prepared.constants, *map.patches, E, V, 0.3, 0.02, 0.2, samples, turn)));
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_NE(capture.texts()[0].find("no closed orbit"), std::string::npos);
}

// The map's first radius is an edge as its last one is: an orbit that needs the field below it
// does not close and says where (the field is not extrapolated towards the centre); above it the
// field closes its orbits as a map that starts at R = 0 does (IsochronousAxisymmetricField...).
TEST(PreciseOrbit, OrbitBelowTheFirstRadiusFailsAtTheInnerEdge) {
  const Ideal ideal;
  PreparedRun record = test::MakeRecord(kModeTvk310, kCoarseStep, 1, 2, 1, MapShape{81, 1.0, 36},
                                        [](double, double) { return 0.0; });
  for (size_t i = 0; i < record.radii.size(); ++i) {
    record.radii[i] = 0.2 + 0.01 * static_cast<double>(i);  // 0.2 .. 1.0 m
    for (size_t j = 0; j < 36; ++j)
      record.field[i * 36 + j] = ideal.B0 * ideal.Gamma(record.radii[i]);
  }
  const PreparedMap map(std::move(record));
  ASSERT_TRUE(map.ok());
  MessageCapture capture;
  OrbitSamples samples;
  PreciseOrbitResult r;
  // 2 MeV: the circle of radius 0.118 m.
  map.Find(2.0, samples, r);
  EXPECT_EQ(r.status, ClosureStatus::Failed);
  // The step control stops at the edge: the radius named is the map's first one or just below.
  EXPECT_NE(r.reason.find("below the map (R = "), std::string::npos) << r.reason;
  EXPECT_TRUE(r.reason.ends_with("; the map starts at 0.2 m)")) << r.reason;
  // 15 MeV: the circle of radius 0.32 m.
  map.Find(15.0, samples, r);
  EXPECT_EQ(r.status, ClosureStatus::Converged) << r.reason;
  const double gamma = test::GammaOfMeV(15.0);
  const double radius = std::sqrt(1 - 1 / (gamma * gamma)) * kSpeedOfLight / ideal.omega0;
  EXPECT_NEAR(r.Rmn / radius - 1, 0, 1e-9);
}

// Rev = Rmn (1 + y) only where the radius correction exists at the orbit and keeps Rev within a
// tenth of Rmn; otherwise no Rev, and a note that says why.
// Where the step control gives up, the energy's reason names the azimuth in the map's turn (an
// integration's azimuth runs on past 2 pi or starts below 0) and the radius, and the tolerance is
// the subject.
TEST(StepControlFailure, NamesTheAzimuthInTheTurnAndTheRadius) {
  struct Case {
    AdaptiveEnd end;
    double theta, R;
    const char* text;
  };
  const double turn = 8 * std::atan(1.0);
  const Case cases[] = {
      {AdaptiveEnd::Underflow, turn + turn / 8, 1.25,
       "The integration cannot meet the tolerance 1e-11 at theta = 45 deg, R = 1.25 m: its step "
       "fell below 1e-12 rad!"},
      {AdaptiveEnd::StepLimit, -turn / 4, 0.5,
       "The integration of one turn needed more than 100000 steps at theta = 270 deg, R = 0.5 m!"},
  };
  for (const Case& c : cases) {
    const Failure f = StepControlFailure(c.end, 1e-11, c.theta, c.R);
    EXPECT_EQ(f.message.text, c.text);
    EXPECT_EQ(f.subject, "tolerance");
  }
}

TEST(PreciseRev, IsARadiusOfTheOrbitOrNone) {
  struct Case {
    const char* name;
    bool estimated;
    double y, r0;
    double rev;        // kNoValue for none
    const char* note;  // the note's beginning
  } cases[] = {
      {"settled", true, 0.007, 2.0, 2.5175, ""},
      {"not settled", false, 0.007, 2.0, kNoValue,
       "no Rev: the average-field radius correction does not settle at this energy"},
      {"off the tables", true, 0.007, 1.7, kNoValue,
       "no Rev: the average-field radius correction leaves the map's radii (R = 1.7 m; "
       "the map has 1.8 to 4.7 m)"},
      {"too large", true, -0.2, 2.0, kNoValue,
       "no Rev: the average-field radius correction -0.2 exceeds 0.1 of the radius"},
      {"the largest", true, 0.1, 4.7, 2.75, ""},
  };
  for (const Case& c : cases) {
    std::string note;
    const double rev = PreciseRev(2.5, c.estimated, c.y, c.r0, 1.8, 4.7, note);
    if (c.rev == kNoValue)
      EXPECT_EQ(rev, kNoValue) << c.name;
    else
      EXPECT_NEAR(rev, c.rev, 1e-12) << c.name;
    EXPECT_EQ(note, c.note) << c.name;
  }
}

}  // namespace
}  // namespace zuba
