// Closed orbits at any azimuth: the interpolation against curves known in closed form, and the
// closed orbits of the bundled ring against the same orbits integrated independently (Cartesian
// coordinates, a Runge-Kutta integrator of the test's own, in time, to the azimuth).
#include "calc/run/orbit_coordinates.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_quantities.h"
#include "numerics/field_patches.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "platform/progress.h"
#include "results/document.h"

namespace zuba {
namespace {

const double kTurn = 8 * std::atan(1.0);

// A circle of radius a whose centre is (x0, y0), seen from the origin: R(theta) and dR/dtheta.
struct OffCentreCircle {
  double a, x0, y0;
  double R(double t) const {
    const double s = x0 * std::sin(t) - y0 * std::cos(t);
    return x0 * std::cos(t) + y0 * std::sin(t) + std::sqrt(a * a - s * s);
  }
  double Slope(double t) const {
    const double s = x0 * std::sin(t) - y0 * std::cos(t);
    const double ds = x0 * std::cos(t) + y0 * std::sin(t);
    return -x0 * std::sin(t) + y0 * std::cos(t) - s * ds / std::sqrt(a * a - s * s);
  }
  // The sine of the angle between the tangent and the circle about the origin.
  double U(double t) const { return Slope(t) / std::hypot(R(t), Slope(t)); }
  // (1/2 pi) int R dtheta by the midpoint rule on a fine grid (exact to rounding for a smooth
  // periodic function).
  double MeanRadius() const {
    const int n = 200000;
    double sum = 0;
    for (int k = 0; k < n; ++k) sum += R(kTurn * (k + 0.5) / n);
    return sum / n;
  }
};

// Samples of the circle at the azimuths given, stored as a run stores them: w = dtheta/dtau of
// an arbitrary parametrisation and vR = dR/dtau = w dR/dtheta.
struct Samples {
  std::vector<double> R, vR, theta, w;
  Samples(const OffCentreCircle& c, const std::vector<double>& azimuths) {
    for (double t : azimuths) {
      const double rate = 1 + 0.3 * std::sin(3 * t);
      theta.push_back(t);
      w.push_back(rate);
      R.push_back(c.R(t));
      vR.push_back(c.Slope(t) * rate);
    }
  }
  StoredOrbit Orbit() const { return {R, vR, theta, w}; }
};

// Azimuths from theta0: n equal steps over one turn, or (uneven) steps of tau of a motion whose
// azimuth runs as tau + 0.05 sin(tau), the last one past the turn as the standard search stores.
std::vector<double> EvenAzimuths(double theta0, int n) {
  std::vector<double> t;
  for (int k = 0; k <= n; ++k) t.push_back(theta0 + kTurn * k / n);
  return t;
}
std::vector<double> UnevenAzimuths(double theta0, double dTau) {
  std::vector<double> t;
  for (double tau = 0;; tau += dTau) {
    t.push_back(theta0 + tau + 0.05 * std::sin(tau));
    if (t.back() > theta0 + kTurn) break;
  }
  return t;
}

TEST(OrbitCurve, FollowsAnOffCentreCircleOnEvenAndUnevenSamples) {
  const OffCentreCircle circle{2.0, 0.013, -0.007};
  const double meanRadius = circle.MeanRadius();
  struct Case {
    const char* name;
    std::vector<double> azimuths;
    double radiusTolerance, uTolerance;
  };
  const Case cases[] = {
      {"precise closure's steps", EvenAzimuths(0.3, 15708), 1e-12, 1e-12},
      {"standard search's steps", UnevenAzimuths(-1.1, 1e-4), 1e-12, 1e-12},
      {"one degree", EvenAzimuths(0.3, 360), 1e-10, 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Samples samples(circle, c.azimuths);
    ASSERT_TRUE(OrbitCurve::IsCurve(samples.Orbit()));
    const OrbitCurve curve(samples.Orbit());
    // Between samples, in every quarter, and outside the stored range (taken modulo a turn).
    for (double t : {0.0, 0.30001, 1.234567, 2.5, 3.9, 5.5, 6.28, -0.7, 7.77}) {
      const OrbitPoint p = curve.At(t);
      EXPECT_EQ(p.theta, t);
      EXPECT_NEAR(p.R, circle.R(t), c.radiusTolerance) << "theta " << t;
      EXPECT_NEAR(p.u, circle.U(t), c.uTolerance) << "theta " << t;
    }
    const OrbitShape shape = curve.Shape();
    EXPECT_NEAR(shape.xc, circle.x0, 1e-12);
    EXPECT_NEAR(shape.yc, circle.y0, 1e-12);
    EXPECT_NEAR(shape.Rmean, meanRadius, 1e-12);
  }
}

TEST(OrbitCurve, EstimatesItsErrorOnCoarseSamples) {
  // A strongly scalloped orbit, R = 2 (1 + 0.02 cos 8 theta), sampled about every 2 degrees: the
  // estimate from every other sample must not understate the error between the samples, whether
  // the turn has an even or an odd number of sample intervals.
  for (const int intervals : {180, 181}) {
    std::vector<double> R, vR, theta, w;
    for (int k = 0; k <= intervals; ++k) {
      const double t = kTurn * k / intervals;
      theta.push_back(t);
      w.push_back(1);
      R.push_back(2 * (1 + 0.02 * std::cos(8 * t)));
      vR.push_back(-2 * 0.16 * std::sin(8 * t));
    }
    const StoredOrbit orbit{R, vR, theta, w};
    const OrbitCurve curve(orbit);
    double worstR = 0, worstU = 0;
    for (int k = 0; k < 1000; ++k) {
      const double t = kTurn * (k + 0.37) / 1000;
      const double r = 2 * (1 + 0.02 * std::cos(8 * t)), slope = -0.32 * std::sin(8 * t);
      worstR = std::max(worstR, std::fabs(curve.At(t).R - r));
      worstU = std::max(worstU, std::fabs(curve.At(t).u - slope / std::hypot(r, slope)));
    }
    const InterpolationError estimate = OrbitInterpolationError(orbit);
    EXPECT_GT(worstR, 1e-9) << intervals;  // coarse enough to matter
    EXPECT_GE(estimate.R / 8, worstR) << intervals;
    EXPECT_GE(estimate.u / 8, worstU) << intervals;
    EXPECT_LT(estimate.R / 8, 40 * worstR) << intervals;  // and not wildly above it
  }
}

TEST(OrbitCurve, RefusesSamplesThatAreNoTurn) {
  const OffCentreCircle circle{2.0, 0.01, 0};
  Samples short_(circle, EvenAzimuths(0, 100));
  short_.theta.back() -= 0.01;  // less than a turn
  EXPECT_FALSE(OrbitCurve::IsCurve(short_.Orbit()));
  Samples backwards(circle, EvenAzimuths(0, 100));
  std::swap(backwards.theta[3], backwards.theta[4]);
  EXPECT_FALSE(OrbitCurve::IsCurve(backwards.Orbit()));
  Samples stopped(circle, EvenAzimuths(0, 100));
  stopped.w[7] = 0;
  EXPECT_FALSE(OrbitCurve::IsCurve(stopped.Orbit()));
  EXPECT_TRUE(OrbitCurve::IsCurve(Samples(circle, EvenAzimuths(0, 100)).Orbit()));
}

TEST(OrbitRequest, RefusesAzimuthsAndGridsOutsideTheTurn) {
  struct Case {
    double theta;
    std::optional<double> grid;
    const char* refusal;  // null: accepted
  };
  const Case cases[] = {
      {0, std::nullopt, nullptr},
      {359.999, 0.25, nullptr},
      {17.5, 120, nullptr},
      {0, 360.0 / 7, nullptr},
      {360, std::nullopt, "--theta 360: the azimuth must lie in [0, 360) degrees"},
      {-0.5, std::nullopt, "--theta -0.5: the azimuth must lie in [0, 360) degrees"},
      {NAN, std::nullopt, "--theta nan: the azimuth must lie in [0, 360) degrees"},
      {0, 7,
       "--grid 7: the step must be positive and divide 360 degrees into a whole number "
       "of steps"},
      {0, 0,
       "--grid 0: the step must be positive and divide 360 degrees into a whole number "
       "of steps"},
      {0, -90,
       "--grid -90: the step must be positive and divide 360 degrees into a whole "
       "number of steps"},
      {0, 400,
       "--grid 400: the step must be positive and divide 360 degrees into a whole "
       "number of steps"},
      {0, 0.25 + 1e-8,
       "--grid 0.25000001: the step must be positive and divide 360 degrees "
       "into a whole number of steps"},
  };
  for (const Case& c : cases) {
    const Outcome checked = CheckOrbitRequest({c.theta, c.grid});
    if (c.refusal == nullptr)
      EXPECT_TRUE(checked.ok()) << c.theta << " " << checked.message().text;
    else
      EXPECT_EQ(checked.message().text, c.refusal);
  }
}

// A record of two energies whose stored orbits are off-centre circles (the first did not close
// in a precise run).
ResultTables CircleRecord(int32_t firstStatus) {
  ResultTables r;
  r.run.m0 = 1.007276466812;
  const double mev = 1e6 * kElementaryCharge;
  r.Ek = RealTable(std::vector<double>{10 * mev, 100 * mev});
  std::vector<double> R, vR, theta, w, tau;
  std::vector<int32_t> points;
  for (const OffCentreCircle& c : {OffCentreCircle{1, 0.001, 0}, OffCentreCircle{2, 0, 0.002}}) {
    const Samples s(c, EvenAzimuths(0, 3600));
    R.insert(R.end(), s.R.begin(), s.R.end());
    vR.insert(vR.end(), s.vR.begin(), s.vR.end());
    theta.insert(theta.end(), s.theta.begin(), s.theta.end());
    w.insert(w.end(), s.w.begin(), s.w.end());
    points.push_back(static_cast<int32_t>(s.R.size()));
  }
  tau.assign(R.size(), 0);
  r.OrbitR = RealTable(R);
  r.OrbitVr = RealTable(vR);
  r.OrbitTheta = RealTable(theta);
  r.OrbitOmega = RealTable(w);
  r.OrbitTau = RealTable(tau);
  r.OrbitPoints = IntTable(points);
  for (RealTable* t : {&r.Rmn, &r.Bmn, &r.Rev, &r.F0, &r.dReo})
    *t = RealTable(std::vector<double>{firstStatus ? kNoValue : 1.0, 1.0});
  r.closure.mode = 1;
  r.closure.status = IntTable(std::vector<int32_t>{firstStatus, 0});
  for (RealTable* t : {&r.closure.isochronism, &r.closure.phaseDeg, &r.closure.nuR, &r.closure.nuZ})
    *t = RealTable(std::vector<double>{0.0, 0.0});
  return r;
}

TEST(OrbitCoordinates, GivesEveryEnergyItsRowAndMomentum) {
  const ResultTables r = CircleRecord(3);
  const Result<OrbitCoordinates> orbits = OrbitCoordinatesOf(r, {90, 180});
  ASSERT_TRUE(orbits) << orbits.message().text;
  ASSERT_EQ(orbits->energies.size(), 2u);
  const ExportedOrbit& failed = orbits->energies[0];
  EXPECT_FALSE(failed.hasValues);
  EXPECT_EQ(failed.status, "failed");
  const ExportedOrbit& closed = orbits->energies[1];
  ASSERT_TRUE(closed.hasValues);
  EXPECT_EQ(closed.status, "closed");
  // 100 MeV protons: p / (m0 c) from the energy, written out.
  const double E0 = 1.007276466812 * kKilogramsPerSamu * kSpeedOfLight * kSpeedOfLight;
  const double Ek = 100e6 * kElementaryCharge;
  EXPECT_NEAR(closed.betaGamma, std::sqrt(Ek * Ek + 2 * E0 * Ek) / E0, 1e-15);
  const OffCentreCircle circle{2, 0, 0.002};
  const double quarter = kTurn / 4;
  EXPECT_NEAR(closed.at.R, circle.R(quarter), 1e-12);
  EXPECT_NEAR(closed.PrBg(closed.at), closed.betaGamma * circle.U(quarter), 1e-15);
  EXPECT_NEAR(closed.shape.yc, 0.002, 1e-12);
  ASSERT_EQ(closed.grid.size(), 2u);
  EXPECT_NEAR(closed.grid[1].R, circle.R(kTurn / 2), 1e-12);

  const std::string table = OrbitCoordinatesTable(*orbits);
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "Ek_MeV\ttheta_deg\tR_m\tpr_bg\tu\tRmean_m\txc_m\tyc_m\tstatus");
  EXPECT_NE(table.find("\n10\t0\t\t\t\t\t\t\tfailed\n10\t180\t\t\t\t\t\t\tfailed\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("\n100\t180\t1.99"), std::string::npos) << table;
}

TEST(OrbitCoordinates, RefusesARecordWithoutClosedOrbits) {
  ResultTables r = CircleRecord(3);
  r.closure.status = IntTable(std::vector<int32_t>{3, 1});
  const Result<OrbitCoordinates> orbits = OrbitCoordinatesOf(r, {});
  ASSERT_FALSE(orbits);
  EXPECT_EQ(orbits.message().text, "the record holds no closed orbit: no energy has one to export");
  EXPECT_FALSE(OrbitCoordinatesOf(ResultTables{}, {}));
}

// ---- the bundled ring against an independent integration ----

// The ring's run as its machine file gives it, from 72 to 472 MeV in steps of 200 MeV.
RunParameters RingRun() {
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = ZUBA_EXAMPLES_DIR "/ring-590.sdf";
  p.Frf = 50.65;
  p.H = 6;
  p.N = 8;
  p.EkBegin = 72;
  p.EkEnd = 472;
  p.dEk = 200;
  return p;
}

// The motion in the median plane in Cartesian coordinates with the time tau = omega0 t:
// d2x/dtau2 = -b dy/dtau, d2y/dtau2 = b dx/dtau, b = (c^2 q / omega0 / E) B, integrated with the
// classical Runge-Kutta rule at a fixed small step until the azimuth (unwrapped) reaches the one
// asked for; the last step is cut so that it lands on it (secant iteration on the step length).
struct CartesianOrbit {
  const FieldPatches& field;
  double kOverE;                        // 1/T
  using State = std::array<double, 4>;  // x, y, vx, vy (m, m/rad)

  State Derivative(const State& s) const {
    const double R = std::hypot(s[0], s[1]);
    double B = 0;
    EXPECT_TRUE(field.Evaluate(R, std::atan2(s[1], s[0]), B).ok());
    const double b = kOverE * B;
    return {s[2], s[3], -b * s[3], b * s[2]};
  }
  State Step(const State& s, double h) const {
    auto add = [](const State& y, const State& d, double f) {
      return State{y[0] + f * d[0], y[1] + f * d[1], y[2] + f * d[2], y[3] + f * d[3]};
    };
    const State k1 = Derivative(s), k2 = Derivative(add(s, k1, h / 2)),
                k3 = Derivative(add(s, k2, h / 2)), k4 = Derivative(add(s, k3, h));
    State next;
    for (int j = 0; j < 4; ++j) next[j] = s[j] + h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    return next;
  }
  static double Azimuth(const State& s, double near) {
    const double a = std::atan2(s[1], s[0]);
    return a + kTurn * std::round((near - a) / kTurn);
  }
  // From (R, vR, w) at theta0 to the unwrapped azimuth target > theta0: R and u there.
  std::pair<double, double> To(double R, double vR, double w, double theta0, double target,
                               double h) const {
    State s{R * std::cos(theta0), R * std::sin(theta0),
            vR * std::cos(theta0) - R * w * std::sin(theta0),
            vR * std::sin(theta0) + R * w * std::cos(theta0)};
    double theta = theta0;
    for (;;) {
      const State next = Step(s, h);
      const double nextTheta = Azimuth(next, theta);
      if (nextTheta >= target) break;
      s = next;
      theta = nextTheta;
    }
    double lo = 0, hi = h, fLo = theta - target, fHi = Azimuth(Step(s, h), theta) - target;
    State at = s;
    for (int k = 0; k < 60 && std::fabs(hi - lo) > 1e-16; ++k) {
      const double mid = lo - fLo * (hi - lo) / (fHi - fLo);
      at = Step(s, mid);
      const double f = Azimuth(at, theta) - target;
      if (f == 0) break;
      if (f < 0) {
        lo = mid;
        fLo = f;
      } else {
        hi = mid;
        fHi = f;
      }
    }
    const double r = std::hypot(at[0], at[1]);
    const double u = (at[0] * at[2] + at[1] * at[3]) / (r * std::hypot(at[2], at[3]));
    return {r, u};
  }
};

TEST(OrbitCoordinates, RingOrbitsAgreeWithAnIndependentIntegration) {
  MessageCapture messages;
  const Result<SharedRun> made = PrepareCalculation(RingRun());
  ASSERT_TRUE(made);
  const PreparedRun& record = **made;
  WorkerOptions options;
  options.threads = 2;
  options.closure = ClosureMode::Precise;
  NullProgress progress;
  const CalculationOutput output = RunCalculation(record, options, progress);
  ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
  const ResultTables& r = output.results;
  ASSERT_EQ(r.Ek.size(), 3);

  const Result<RunOrbitField> runField = RunOrbitField::Of(record);
  ASSERT_TRUE(runField);
  const Result<OrbitInputs> prepared = PrepareOrbitInputs(record);
  ASSERT_TRUE(prepared);
  Result<FieldPatches> field = FieldPatches::Build(
      prepared->radialSteps, record.radii, record.azimuths, record.field, prepared->moments);
  ASSERT_TRUE(field.ok());
  // b = K B / E with K = c^2 q H / (2 pi Frf), E the total energy (J).
  const double K = kSpeedOfLight * kSpeedOfLight * kElementaryCharge * 6 / (kTurn * 50.65e6);
  const double E0 = 1.007276466812 * kKilogramsPerSamu * kSpeedOfLight * kSpeedOfLight;
  const std::vector<SampleSpan> spans = OrbitSpans(r);

  const double azimuthsDeg[] = {17.5, 236.25};
  for (double thetaDeg : azimuthsDeg) {
    const Result<OrbitCoordinates> orbits =
        OrbitCoordinatesOf(r, {thetaDeg, std::nullopt}, &*runField);
    ASSERT_TRUE(orbits.ok());
    EXPECT_FALSE(orbits->accuracy) << *orbits->accuracy;
    // Without the field the samples on the map's 0.5-degree grid are interpolated, and the export
    // says how far from 1 um and 1e-7 that is.
    EXPECT_TRUE(OrbitCoordinatesOf(r, {thetaDeg, std::nullopt})->accuracy);
    for (int64_t i = 0; i < 3; ++i) {
      const ExportedOrbit& e = orbits->energies[static_cast<size_t>(i)];
      ASSERT_TRUE(e.hasValues);
      const StoredOrbit o = StoredOrbitOf(r, spans, i);
      const CartesianOrbit motion{*field, K / (r.Ek[i] + E0)};
      // From the orbit's start (its first sample) forward to the azimuth.
      double target = thetaDeg * kTurn / 360;
      while (target <= o.theta[0]) target += kTurn;
      const auto [R, u] = motion.To(o.R[0], o.vR[0], o.w[0], o.theta[0], target, 2e-4);
      std::printf("  %5.1f MeV at %6.2f deg: R %.9f m, u %+.9f; deviation %.2e um, %.1e\n", e.EkMeV,
                  thetaDeg, e.at.R, e.at.u, (e.at.R - R) * 1e6, e.at.u - u);
      EXPECT_NEAR(e.at.R, R, 1e-6) << e.EkMeV << " MeV at " << thetaDeg;
      EXPECT_NEAR(e.at.u, u, 1e-7) << e.EkMeV << " MeV at " << thetaDeg;
      // The map is exactly 8-fold: the centre stays within the azimuthal interpolation's seam at
      // the map's first azimuth (a few um at the lowest energy).
      EXPECT_LT(std::hypot(e.shape.xc, e.shape.yc), 1e-5) << e.EkMeV << " MeV";
    }
  }
}

// ---- a document of an earlier version: a sample at every integration step ----

// tests/data/precise-every-step.zub: zuba-cli run --map tvk310-p.sdf --mode "TVK-310: p"
// --closure precise --set EkBegin=5 --set EkEnd=25 --set dEk=10, saved by the version that kept a
// sample at every step of the precise closure (about 570 a turn on this 2-degree map); its orbits
// interpolated between those samples are exact to about 1e-9. Today's run keeps 182 samples a turn
// (the map's nodes, the start and the end); its orbits followed in the field agree with them to 1
// um and 1e-7, and so do those of the earlier document followed in the field.
TEST(OrbitCoordinates, FixedGridOrbitsAgreeWithThoseOfAnEarlierDocument) {
  MessageCapture messages;
  const Result<DocumentLoad> earlier =
      LoadDocumentFile(ZUBA_TEST_DATA_DIR "/precise-every-step.zub");
  ASSERT_TRUE(earlier) << earlier.message().text;
  const ResultTables& old = earlier->results;
  ASSERT_EQ(old.Ek.size(), 3);
  RunParameters p = old.run;
  p.Path = ZUBA_EXAMPLES_DIR "/tvk310-p.sdf";
  const Result<SharedRun> made = PrepareCalculation(p);
  ASSERT_TRUE(made);
  WorkerOptions options;
  options.threads = 1;
  options.closure = ClosureMode::Precise;
  NullProgress progress;
  const CalculationOutput output = RunCalculation(**made, options, progress);
  ASSERT_EQ(output.outcome, WorkerOutcome::Completed);
  const ResultTables& now = output.results;
  const Result<RunOrbitField> field = RunOrbitField::Of(**made);
  ASSERT_TRUE(field);

  const OrbitRequest request{17.3, 1.0};
  const Result<OrbitCoordinates> reference = OrbitCoordinatesOf(old, request);
  const Result<OrbitCoordinates> followed = OrbitCoordinatesOf(now, request, &*field);
  const Result<OrbitCoordinates> oldFollowed = OrbitCoordinatesOf(old, request, &*field);
  ASSERT_TRUE(reference && followed && oldFollowed);
  EXPECT_FALSE(reference->accuracy);
  EXPECT_FALSE(followed->accuracy);
  for (size_t i = 0; i < 3; ++i) {
    // The start, the 180 nodes (one of them left out when it lies near the start), the end.
    EXPECT_GE(now.OrbitPoints[static_cast<int64_t>(i)], 181);
    EXPECT_LE(now.OrbitPoints[static_cast<int64_t>(i)], 182);
    EXPECT_GT(old.OrbitPoints[static_cast<int64_t>(i)], 500);
    EXPECT_NEAR(now.F0[static_cast<int64_t>(i)], old.F0[static_cast<int64_t>(i)], 1e-3);
    const ExportedOrbit& a = reference->energies[i];
    for (const ExportedOrbit* b : {&followed->energies[i], &oldFollowed->energies[i]}) {
      ASSERT_TRUE(a.hasValues && b->hasValues);
      ASSERT_EQ(b->grid.size(), 360u);
      double worstR = std::fabs(a.at.R - b->at.R), worstU = std::fabs(a.at.u - b->at.u);
      for (size_t k = 0; k < 360; ++k) {
        worstR = std::max(worstR, std::fabs(a.grid[k].R - b->grid[k].R));
        worstU = std::max(worstU, std::fabs(a.grid[k].u - b->grid[k].u));
      }
      EXPECT_LT(worstR, kOrbitRadiusAccuracy) << a.EkMeV << " MeV";
      EXPECT_LT(worstU, kOrbitDirectionAccuracy) << a.EkMeV << " MeV";
      EXPECT_NEAR(a.shape.Rmean, b->shape.Rmean, kOrbitRadiusAccuracy);
      EXPECT_NEAR(a.shape.xc, b->shape.xc, kOrbitRadiusAccuracy);
    }
  }
}

}  // namespace
}  // namespace zuba
