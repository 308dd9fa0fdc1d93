// Equilibrium orbit of one kinetic energy: start estimate, end of the turn, search update, means.
#include "calc/orbits/orbit.h"

#include <string>

#include "numerics/azimuthal.h"
#include "numerics/interpolation.h"

namespace zuba {

void OrbitSamples::Reserve(size_t count) {
  R.reserve(count);
  vR.reserve(count);
  theta.reserve(count);
  w.reserve(count);
  tau.reserve(count);
  B.reserve(count);
}

void OrbitSamples::Clear() {
  // Keeps the capacity: the next trial refills the same storage.
  R.clear();
  vR.clear();
  theta.clear();
  w.clear();
  tau.clear();
  B.clear();
}

Outcome StartRadius(const OrbitConstants& constants, const AverageFieldTables& tables, double beta,
                    double& y, double& r0) {
  double value = 0;  // y, relative radius correction at the current estimate
  for (int32_t round = 0;; ++round) {
    if (round == kMaxStartRadiusRounds)
      return ErrorFailure("Start radius estimate does not settle after " +
                              std::to_string(kMaxStartRadiusRounds) + " rounds!",
                          "start radius rounds", round, 0, kMaxStartRadiusRounds);
    const double R = constants.rInfinity / (value + 1) * beta;  // m
    double next = 0;
    if (Outcome o = InterpolateTable(tables.radii, tables.v, R, next); !o) return o;
    const bool settled = !(std::fabs(value - next) > 1e-15);
    value = next;
    if (settled) break;
  }
  y = value;
  r0 = constants.rInfinity / (y + 1) * beta;
  return {};
}

int64_t MaxTrialSteps(const OrbitConstants& constants) {
  // A turn at the nominal revolution takes about 2 pi / h steps; twenty times as many allow for an
  // ion revolving far slower than the RF and still stop a trial whose azimuth does not advance.
  const double nominal = std::ceil(kTwoPi / constants.h);
  const int64_t base = std::max<int64_t>(constants.nSteps, static_cast<int64_t>(nominal));
  return 20 * base + 20;
}

double Lagrange3(double x, double x1, double x2, double x3, double y1, double y2, double y3) {
  return y1 * (x - x2) * (x - x3) / ((x1 - x2) * (x1 - x3)) +
         y2 * (x - x1) * (x - x3) / ((x2 - x1) * (x2 - x3)) +
         y3 * (x - x1) * (x - x2) / ((x3 - x1) * (x3 - x2));
}

void OrbitSearch::Update(double dr) {
  if (trials == 0) home = dr < 0 ? -1.0 : 1.0;
  const double d = home * dr;          // mismatch seen from the home side
  const double dPrev = home * drPrev;  // the same for the previous trial
  if (dPrev >= 0 && d > 0) {
    // a: still on the home side.
    if (trials == 0) {
      step = home * kOrbitTolerance;
      savedDelta = delta;
      delta = delta + step;
    } else if (!bisecting) {
      if (d > dPrev) step = -step;
      savedDelta = delta;
      delta = delta + step;
    } else {
      delta = delta + step;
    }
  } else if (d < 0 && dPrev != 0) {
    // b: the mismatch has crossed zero (or is still across): halve the step from the saved offset.
    step = step / 2;
    delta = savedDelta + step;
    bisecting = true;
  } else if (dPrev < 0 && d > 0) {
    // c: back on the home side: the next trial repeats this start radius.
    bisecting = false;
    savedDelta = delta;
  } else {
    // d: anything else.
    if (!bisecting) savedDelta = delta;
  }
  drPrev = dr;
  ++trials;
}

namespace orbit_detail {

Outcome TrialStart(const OrbitConstants& constants, const AverageFieldTables& tables, double Rs,
                   double& vR0, double& thetaS) {
  double epsilonS = 0, psiS = 0;
  if (Outcome o = InterpolateTable(tables.radii, tables.epsilon, Rs, epsilonS); !o) return o;
  const double N = constants.N;
  vR0 = epsilonS * N * Rs / (std::pow(N, 2) - 1);  // m/rad
  if (Outcome o = InterpolateTable(tables.radii, tables.psi, Rs, psiS); !o) return o;
  thetaS = kPi * 3 / (N + N) + psiS;  // rad, psi_s + 3 pi / (2N)
  return {};
}

Outcome TurnEnd(const OrbitSamples& samples, double thetaS, double& tauTurn, double& Rend,
                double& thetaEnd) {
  const size_t m = samples.Size();
  if (m < 3)
    return ErrorFailure("Integration step too large: one turn gives " + std::to_string(m) +
                            " orbit samples, at least 3 are needed!",
                        "orbit samples", static_cast<double>(m), 3);
  const size_t i1 = m - 3, i2 = m - 2, i3 = m - 1;
  const auto& th = samples.theta;
  const auto& tau = samples.tau;
  const auto& R = samples.R;
  tauTurn = Lagrange3(thetaS + kTwoPi, th[i1], th[i2], th[i3], tau[i1], tau[i2], tau[i3]);
  Rend = Lagrange3(tauTurn, tau[i1], tau[i2], tau[i3], R[i1], R[i2], R[i3]);
  thetaEnd = Lagrange3(tauTurn, tau[i1], tau[i2], tau[i3], th[i1], th[i2], th[i3]);
  return {};
}

Failure StepBound(int64_t maxSteps) {
  return ErrorFailure("The orbit did not complete a turn within " + std::to_string(maxSteps) +
                          " integration steps!",
                      "integration steps", static_cast<double>(maxSteps), 0,
                      static_cast<double>(maxSteps));
}

Outcome OrbitMeans(const OrbitSamples& samples, double& Rmn, double& Bmn) {
  const size_t m = samples.Size();
  const int32_t intervals = static_cast<int32_t>(m - 1);
  const double span = samples.tau[m - 1] - samples.tau[0];  // rad
  double integralR = 0, integralB = 0;
  if (Outcome o = SimpsonIntegral(samples.tau, samples.R, intervals, integralR); !o) return o;
  if (Outcome o = SimpsonIntegral(samples.tau, samples.B, intervals, integralB); !o) return o;
  Rmn = integralR / span;
  Bmn = integralB / span;
  return {};
}

Message NoConvergence() {
  return Message{"Calculation accuracy didn't achive!", "Error", Icon::Warning, Owner::None};
}

}  // namespace orbit_detail

}  // namespace zuba
