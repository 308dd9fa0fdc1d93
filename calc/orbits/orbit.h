// Equilibrium orbit of one kinetic energy: the start estimate from the average-field tables, one
// turn of fourth-order Runge-Kutta tracking through the field map, and the step-and-bisect search
// on the start radius until the orbit closes within 0.0005 m.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "numerics/constants.h"
#include "numerics/field_interpolation.h"
#include "numerics/kinematics.h"
#include "numerics/runge_kutta.h"
#include "platform/outcome.h"

namespace zuba {

// The error bound of each integration step of the precise closure unless the run gives its own
// (see precise_orbit.h).
inline constexpr double kDefaultPreciseTolerance = 1e-10;

// The run constants that the search needs, computed once per run by the calculation worker.
struct OrbitConstants {
  double E0 = 0;         // J, rest energy pow(c, 2) * m0
  double invOmega0 = 0;  // s/rad, 1/omega0 = H / (2 pi * RF frequency)
  double rInfinity =
      0;               // m, c * (1/omega0): radius of a particle at light speed revolving at omega0
  double K = 0;        // C*m^2/s, pow(c, 2) * q * (1/omega0): numerator of b = (K / E) * B
  int32_t N = 0;       // number of magnet sectors
  double h = 0;        // rad, integration step in tau (the standard search)
  double T0 = 0;       // rad, start value of tau
  int64_t nSteps = 0;  // sample capacity of a trial (steps of the nominal tau range)
  // The error bound of each integration step of the precise closure (see precise_orbit.h).
  double tolerance = kDefaultPreciseTolerance;
};

// The tables over the radius nodes from which every search starts (from AverageFieldParameters).
struct AverageFieldTables {
  std::span<const double> radii;    // m
  std::span<const double> v;        // 1, radius correction
  std::span<const double> epsilon;  // 1, ratio of the N-th harmonic to the mean field
  std::span<const double> psi;      // rad, phase of the N-th harmonic
};

// The field evaluator that rebuilds its splines on every call (the reference). Any evaluator with
// the member `int Evaluate(double R, double theta, double& B) const` serves the search.
class ReferenceField {
 public:
  ReferenceField(std::span<const double> radialSteps, std::span<const double> radii,
                 std::span<const double> azimuths, std::span<const double> field,
                 std::span<const double> moments)
      : radialSteps_(radialSteps),
        radii_(radii),
        azimuths_(azimuths),
        field_(field),
        moments_(moments) {}

  // B in tesla at radius R (m) and azimuth theta (rad), or why the point is refused.
  Outcome Evaluate(double R, double theta, double& B) const {
    return InterpolateField(R, theta, radialSteps_, radii_, azimuths_, field_, moments_, B);
  }

 private:
  std::span<const double> radialSteps_, radii_, azimuths_, field_, moments_;
};

// The six sample tables of a trial orbit. They are kept by the caller from energy to energy so that
// their storage is allocated once; each trial empties them and refills them.
struct OrbitSamples {
  std::vector<double> R;      // m
  std::vector<double> vR;     // m/rad, dR/dtau
  std::vector<double> theta;  // rad
  std::vector<double> w;      // 1, dtheta/dtau
  std::vector<double> tau;    // rad
  std::vector<double> B;      // T, field at the sample's point

  void Reserve(size_t count);
  void Clear();
  size_t Size() const { return R.size(); }
  // One call with the six appends inlined into it: left to itself the compiler calls each append
  // out of line from the orbit loops, which costs a run about a tenth of its time (inlining the
  // whole of it into the loops costs more still).
  [[gnu::flatten]] void Append(double r, double vr, double th, double omega, double t, double b) {
    R.push_back(r);
    vR.push_back(vr);
    theta.push_back(th);
    w.push_back(omega);
    tau.push_back(t);
    B.push_back(b);
  }
};

// What the search delivers for one energy; the accepted orbit stays in the OrbitSamples passed in.
struct OrbitResult {
  double Rmn = 0;          // m, time-mean radius
  double Bmn = 0;          // T, time-mean field along the orbit
  double Rev = 0;          // m, Rmn * (1 + v) at the start radius
  double F0 = 0;           // Hz, rotation frequency
  double dReo = 0;         // m, closure error of the accepted trial
  int32_t trials = 0;      // trials made (1 .. 100)
  bool converged = false;  // |dReo| <= 0.0005 m
  // The notice of a search that ended at its trial limit without closing the orbit ("Calculation
  // accuracy didn't achive!", caption "Error", warning icon): the orbit is reported all the same.
  std::optional<Message> warning;
};

// Start-radius estimate: the fixed point y = v(R) with R = R_inf / (y + 1) * beta. Writes the final
// y and r0 = R_inf / (y + 1) * beta (m). Fails when InterpolateTable fails or when the iteration
// has not settled within kMaxStartRadiusRounds rounds (a failure of its own, caption "Error").
inline constexpr int32_t kMaxStartRadiusRounds = 10000;
Outcome StartRadius(const OrbitConstants& constants, const AverageFieldTables& tables, double beta,
                    double& y, double& r0);

// Most integration steps a trial may take: a generous multiple of the steps of a nominal turn.
int64_t MaxTrialSteps(const OrbitConstants& constants);

// Value at x of the parabola through (x1, y1), (x2, y2), (x3, y3), in the Lagrange form.
double Lagrange3(double x, double x1, double x2, double x3, double y1, double y2, double y3);

// State of the step-and-bisect search on the start-radius offset.
struct OrbitSearch {
  double delta = 0;       // m, start-radius offset from r0
  double step = 0;        // m, signed step of the offset
  double savedDelta = 0;  // m, offset to which a bisection step is added
  bool bisecting = false;
  int32_t trials = 0;  // k, trials made
  double drPrev = 0;   // m, mismatch of the previous trial
  double home = 0;     // +1 or -1 after the first trial, 0 before

  // Takes the mismatch dr (m) of the trial just made: updates the offset for the next trial,
  // then records dr and counts the trial.
  void Update(double dr);
};

inline constexpr double kOrbitTolerance = 0.0005;  // m, accepted closure error
inline constexpr int32_t kMaxTrials = 100;

// The tracking of one trial orbit; declared here for the benchmark and the tests.
// Tracks from start radius Rs over one turn, fills the samples and writes tauTurn (rad) and dr (m).
template <class Field>
Outcome TrackTrial(const OrbitConstants& constants, const AverageFieldTables& tables,
                   const Field& field, double E, double Rs, OrbitSamples& samples, double& tauTurn,
                   double& dr);

// Finds the equilibrium orbit of kinetic energy Ek (J). On success the accepted orbit is in
// `samples` (R, vR, theta, w, tau, B of every sample) and its values are in `result`. Fails with
// the failure of the operation of the numerics that failed, or of a bound of our own.
template <class Field>
Outcome FindEquilibriumOrbit(const OrbitConstants& constants, const AverageFieldTables& tables,
                             const Field& field, double Ek, OrbitSamples& samples,
                             OrbitResult& result);

// ---- implementation of the templates ----

namespace orbit_detail {
// A field without a cursor, walked by plain evaluations; it keeps the last refusal.
template <class Field>
struct PlainWalker {
  const Field& field;
  Outcome refusal;
  bool TryEvaluate(double R, double theta, double& B) {
    refusal = field.Evaluate(R, theta, B);
    return refusal.ok();
  }
  Outcome Refusal(double, double) const { return refusal; }
};

// What a trial walks the field with: the field's own Cursor where it has one (it starts from the
// cell of the previous step, which gives the same values sooner), else the field itself. A walker
// has TryEvaluate (the value, or false where the field refuses the point) and Refusal (why).
template <class Field>
auto FieldWalker(const Field& field) {
  if constexpr (requires { typename Field::Cursor; })
    return typename Field::Cursor(field);
  else
    return PlainWalker<Field>{field, {}};
}

// The state of a trial orbit, integrated in tau: R (m), vR = dR/dtau (m/rad), theta (rad) and
// w = dtheta/dtau.
enum TrialComponent : size_t { kTrialR, kTrialVr, kTrialTheta, kTrialW };
using TrialState = std::array<double, 4>;

// The equations of motion of a trial in tau, with the relative field b = (K / E) B held at its
// value at the start of the step (the search evaluates the field once per step):
// dR = vR, dvR = R w (w - b), dtheta = w, dw = -(vR / R)(2w - b).
struct FrozenFieldMotion {
  double b;
  bool operator()(double /*tau*/, const TrialState& y, TrialState& d) const {
    const double R = y[kTrialR], vR = y[kTrialVr], w = y[kTrialW];
    d[kTrialR] = vR;
    d[kTrialVr] = R * w * (w - b);
    d[kTrialTheta] = w;
    d[kTrialW] = -(vR / R) * (2 * w - b);
    return true;
  }
};

// The non-template parts of a trial and of the search, in orbit.cpp.
Outcome TrialStart(const OrbitConstants& constants, const AverageFieldTables& tables, double Rs,
                   double& vR0, double& thetaS);
Outcome TurnEnd(const OrbitSamples& samples, double thetaS, double& tauTurn, double& Rend,
                double& thetaEnd);
Failure StepBound(int64_t maxSteps);
Outcome OrbitMeans(const OrbitSamples& samples, double& Rmn, double& Bmn);
Message NoConvergence();
}  // namespace orbit_detail

template <class Field>
Outcome TrackTrial(const OrbitConstants& constants, const AverageFieldTables& tables,
                   const Field& field, double E, double Rs, OrbitSamples& samples, double& tauTurn,
                   double& dr) {
  double vR0 = 0, thetaS = 0;
  if (Outcome o = orbit_detail::TrialStart(constants, tables, Rs, vR0, thetaS); !o) return o;
  const double h = constants.h;  // rad
  const double kOverE = constants.K / E;
  const int64_t maxSteps = MaxTrialSteps(constants);
  auto walker = orbit_detail::FieldWalker(field);

  using enum orbit_detail::TrialComponent;
  orbit_detail::TrialState y{Rs, vR0, thetaS, 1.0};
  double tau = constants.T0;
  samples.Clear();
  int64_t steps = 0;
  double B = 0;
  do {
    if (steps == maxSteps) return orbit_detail::StepBound(maxSteps);
    // The one field evaluation of the step; all four stages use it.
    if (!walker.TryEvaluate(y[kTrialR], y[kTrialTheta], B)) [[unlikely]]
      return walker.Refusal(y[kTrialR], y[kTrialTheta]);
    samples.Append(y[kTrialR], y[kTrialVr], y[kTrialTheta], y[kTrialW], tau, B);
    // b = (K / E) B, the field relative to that of the ideal orbit at this energy. The stages hold
    // increments h f, summed in the increment form's order and multiplied by 1/6 as a constant:
    // the results depend on it.
    const orbit_detail::FrozenFieldMotion motion{kOverE * B};
    RungeKutta4<IncrementForm>::Step(motion, y, tau, h);
    tau = tau + h;
    ++steps;
  } while (y[kTrialTheta] - thetaS < kTwoPi);

  if (!walker.TryEvaluate(y[kTrialR], y[kTrialTheta], B))
    return walker.Refusal(y[kTrialR], y[kTrialTheta]);
  samples.Append(y[kTrialR], y[kTrialVr], y[kTrialTheta], y[kTrialW], tau, B);

  double Rend = 0, thetaEnd = 0;
  if (Outcome o = orbit_detail::TurnEnd(samples, thetaS, tauTurn, Rend, thetaEnd); !o) return o;
  // The field at the end point is not used, but a point outside the map fails the trial.
  double unused = 0;
  if (Outcome o = field.Evaluate(Rend, thetaEnd, unused); !o) return o;
  dr = Rend - samples.R[0];
  return {};
}

template <class Field>
Outcome FindEquilibriumOrbit(const OrbitConstants& constants, const AverageFieldTables& tables,
                             const Field& field, double Ek, OrbitSamples& samples,
                             OrbitResult& result) {
  // Energy: total E (J) and speed relative to light.
  const Kinematics ion = KinematicsOf(Ek, constants.E0);
  const double E = ion.E, beta = ion.beta;

  double y = 0, r0 = 0;
  if (Outcome o = StartRadius(constants, tables, beta, y, r0); !o) return o;

  OrbitSearch search;
  result.warning.reset();
  double tauTurn = 0, dr = 0;
  for (;;) {
    if (Outcome o =
            TrackTrial(constants, tables, field, E, r0 + search.delta, samples, tauTurn, dr);
        !o)
      return o;
    search.Update(dr);
    if (std::fabs(dr) <= kOrbitTolerance) break;
    if (search.trials >= kMaxTrials) {
      result.warning = orbit_detail::NoConvergence();
      break;
    }
  }

  double Rmn = 0, Bmn = 0;
  if (Outcome o = orbit_detail::OrbitMeans(samples, Rmn, Bmn); !o) return o;
  result.Rmn = Rmn;
  result.Bmn = Bmn;
  result.Rev = Rmn * (1 + y);
  result.F0 = 1 / (constants.invOmega0 * tauTurn);
  result.dReo = dr;
  result.trials = search.trials;
  result.converged = std::fabs(dr) <= kOrbitTolerance;
  return {};
}

}  // namespace zuba
