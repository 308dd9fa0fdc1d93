// The precise closed orbit: one-turn integration in azimuth with the linearised radial and
// vertical motion, Newton closure of (R, vR), tunes from the one-turn matrices.
#include "calc/precise_orbit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "numerics/average_field.h"
#include "numerics/kinematics.h"
#include "numerics/runge_kutta.h"

namespace zuba {

std::string_view ClosureModeName(ClosureMode mode) {
  return mode == ClosureMode::Precise ? "precise" : "described";
}

std::optional<ClosureMode> ParseClosureMode(std::string_view name) {
  if (name == "described") return ClosureMode::Described;
  if (name == "precise") return ClosureMode::Precise;
  return std::nullopt;
}

Tune TuneOfMatrix(const OneTurnMatrix& m) {
  const double halfTrace = (m.m11 + m.m22) / 2;  // cos(2 pi nu)
  if (!(std::fabs(halfTrace) <= 1 + 1e-9)) return {kNoValue, false};
  const double c = std::clamp(halfTrace, -1.0, 1.0);
  const double x = std::acos(c) / kTwoPi;          // fractional tune folded into [0, 1/2]
  const double fraction = m.m12 >= 0 ? x : 1 - x;  // sin(2 pi nu) has the sign of m12
  // The half-oscillation count n places nu in [n/2, (n+1)/2); of the values fraction + k take the
  // one nearest to that interval (they agree except within rounding of a whole or half tune).
  const double low = m.halfOscillations / 2.0, high = (m.halfOscillations + 1) / 2.0;
  const double base = std::floor(low) + fraction;
  double best = base, bestDistance = 1e300;
  for (double candidate : {base - 1, base, base + 1}) {
    const double distance = candidate < low    ? low - candidate
                            : candidate > high ? candidate - high
                                               : 0;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return {best, true};
}

int64_t PreciseTurnSteps(double h) {
  const double steps = std::ceil(kTwoPi / (kPreciseStagesPerStep * h));
  return std::max<int64_t>(3, static_cast<int64_t>(steps));
}

namespace {

// Components of the integrated state.
enum : int {
  kR,     // m
  kVr,    // m/rad
  kTau,   // rad
  kIntR,  // m rad, integral of R dtau
  kIntB,  // T rad, integral of B dtau
  kP11,   // radial one-turn matrix of (R, vR), row-major
  kP12,
  kP21,
  kP22,
  kZ11,  // vertical one-turn matrix of (z, dz/dtau), row-major
  kZ12,
  kZ21,
  kZ22,
  kComponents
};
using State = std::array<double, kComponents>;

// The derivatives with respect to theta and what the sample of a step start records.
struct Derivatives {
  const FieldPatches& field;
  double kOverE;    // 1/T: b = kOverE * B
  double V;         // m/rad, the speed
  double w = 0;     // dtheta/dtau at the last evaluation
  double B = 0;     // T, field at the last evaluation
  Outcome refusal;  // why the last evaluation was refused

  // false, with refusal saying why, when the point is refused.
  bool operator()(double theta, const State& y, State& d) {
    const double R = y[kR], vR = y[kVr];
    const double speedLeft = V * V - vR * vR;  // (m/rad)^2, (R w)^2
    if (!(speedLeft > 0) || !(R > 0)) return Refuse(R, vR);
    w = std::sqrt(speedLeft) / R;
    double dBdR = 0, dBdTheta = 0;
    if (Outcome o = field.EvaluateWithDerivatives(R, theta, B, dBdR, dBdTheta); !o) {
      refusal = std::move(o);
      return false;
    }
    const double b = kOverE * B;
    const double invW = 1 / w;
    d[kR] = vR * invW;
    d[kVr] = R * (w - b);
    d[kTau] = invW;
    d[kIntR] = R * invW;
    d[kIntB] = B * invW;
    // Linearised radial motion, with w = sqrt(V^2 - vR^2) / R: dw/dR = -w / R,
    // dw/dvR = -vR / (R^2 w).
    const double a11 = vR * invW / R;
    const double a12 = invW + vR * vR / (R * R * w * w * w);
    const double a21 = -b - R * kOverE * dBdR;
    const double a22 = -a11;
    d[kP11] = a11 * y[kP11] + a12 * y[kP21];
    d[kP12] = a11 * y[kP12] + a12 * y[kP22];
    d[kP21] = a21 * y[kP11] + a22 * y[kP21];
    d[kP22] = a21 * y[kP12] + a22 * y[kP22];
    // Vertical motion to first order off the median plane of a symmetric field:
    // d2z/dtau2 = (K / E) z (R w dB/dR - (vR / R) dB/dtheta), with u = dz/dtau.
    const double zForce = kOverE * (R * w * dBdR - vR / R * dBdTheta) * invW;  // du/dtheta per z
    d[kZ11] = invW * y[kZ21];
    d[kZ12] = invW * y[kZ22];
    d[kZ21] = zForce * y[kZ11];
    d[kZ22] = zForce * y[kZ12];
    return true;
  }

  bool Refuse(double R, double vR) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "The orbit lost its azimuthal motion at R = %.6g m, vR = %.6g m/rad: no closed "
                  "orbit at this energy!",
                  R, vR);
    refusal = ErrorFailure(text, "vR", vR, -V, V);
    return false;
  }
};

// Counts a sign change of value against the last non-zero sign seen.
void CountSignChange(double value, int& lastSign, int32_t& changes) {
  const int sign = value > 0 ? 1 : value < 0 ? -1 : 0;
  if (sign == 0) return;
  if (lastSign != 0 && sign != lastSign) ++changes;
  lastSign = sign;
}

std::string MeV(double ekJoules) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", ekJoules / (1e6 * kElementaryCharge));
  return text;
}

// The radius where the circle of the azimuthal mean field has the ion's momentum:
// R * (K / E) * mean B(R) = V. Fails when there is none inside the map.
Outcome MeanFieldCircle(const FieldPatches& field, std::span<const double> radii, double kOverE,
                        double V, double& R) {
  const int32_t points = std::max(16, 4 * field.AzimuthNodes());
  const double rLow = radii.front() > 0 ? radii.front() : radii[1] / 2, rHigh = radii.back();
  R = std::clamp(V, rLow, rHigh);  // the circle of the ideal isochronous orbit as first guess
  for (int round = 0; round < 200; ++round) {
    double sum = 0;
    for (int32_t j = 0; j < points; ++j) {
      double B = 0;
      if (Outcome o = field.Evaluate(R, kTwoPi * j / points, B); !o) return o;
      sum += B;
    }
    const double bMean = kOverE * (sum / points);  // 1, mean of b on the circle
    if (!(bMean > 0))
      return ErrorFailure("The mean field at R = " + std::to_string(R) +
                              " m does not bend the ion towards the centre: no closed orbit!",
                          "mean field", sum / points);
    const double next = std::clamp(V / bMean, rLow, rHigh);
    if (std::fabs(next - R) <= 1e-13 * R) {
      R = next;
      return {};
    }
    R = next;
  }
  return {};  // the best estimate so far: the Newton closure takes it from here
}

}  // namespace

Outcome TrackPreciseTurn(const OrbitConstants& constants, const FieldPatches& field, double E,
                         double V, double Rs, double vRs, double thetaS, OrbitSamples& samples,
                         PreciseTurn& turn) {
  const int64_t steps = PreciseTurnSteps(constants.h);
  const double dTheta = kTwoPi / static_cast<double>(steps);  // rad
  Derivatives f{field, constants.K / E, V, 0, 0, {}};

  State y{};
  y[kR] = Rs;
  y[kVr] = vRs;
  y[kTau] = constants.T0;
  y[kP11] = y[kP22] = y[kZ11] = y[kZ22] = 1;

  samples.Clear();
  int radialSign = 0, verticalSign = 0;
  int32_t radialChanges = 0, verticalChanges = 0;
  State start{};  // derivatives at the step's start
  for (int64_t i = 0; i < steps; ++i) {
    const double theta = thetaS + dTheta * static_cast<double>(i);
    if (!f(theta, y, start)) return f.refusal;
    samples.Append(y[kR], y[kVr], theta, f.w, y[kTau], f.B);
    // Each stage evaluates the field at its own point; the stages hold slopes.
    if (!RungeKutta4<SlopeForm>::Step(f, y, start, theta, dTheta)) return f.refusal;
    CountSignChange(y[kP12], radialSign, radialChanges);
    CountSignChange(y[kZ12], verticalSign, verticalChanges);
  }
  State last;
  if (!f(thetaS + kTwoPi, y, last)) return f.refusal;
  samples.Append(y[kR], y[kVr], thetaS + kTwoPi, f.w, y[kTau], f.B);

  turn.Rend = y[kR];
  turn.vRend = y[kVr];
  turn.tauTurn = y[kTau];
  turn.integralR = y[kIntR];
  turn.integralB = y[kIntB];
  turn.radial = {y[kP11], y[kP12], y[kP21], y[kP22], radialChanges};
  turn.vertical = {y[kZ11], y[kZ12], y[kZ21], y[kZ22], verticalChanges};
  return {};
}

Outcome FindPreciseOrbit(const OrbitConstants& constants, const AverageFieldTables& tables,
                         const FieldPatches& field, double Ek, OrbitSamples& samples,
                         PreciseOrbitResult& result) {
  // Energy as in the default mode: total E (J) and speed relative to light.
  const Kinematics ion = KinematicsOf(Ek, constants.E0);
  const double E = ion.E, beta = ion.beta;
  const double V = beta * constants.rInfinity;  // m/rad, the speed in units of omega0
  const double kOverE = constants.K / E;        // 1/T

  // Start: the default mode's estimate, or the mean-field circle where that is unusable.
  double y = 0, R = 0;
  if (Outcome o = StartRadius(constants, tables, beta, y, R); !o) return o;
  const bool usable = std::isfinite(y) && y < kNoValue / 2 && R >= tables.radii.front() &&
                      R <= tables.radii.back() && R > 0;
  if (!usable) {
    if (Outcome o = MeanFieldCircle(field, tables.radii, kOverE, V, R); !o) return o;
  }
  double vR = 0, thetaS = 0;
  if (Outcome o = orbit_detail::TrialStart(constants, tables, R, vR, thetaS); !o) return o;
  if (!(std::fabs(vR) < V)) vR = 0;

  PreciseTurn turn;
  result = PreciseOrbitResult{};
  for (;;) {
    if (Outcome o = TrackPreciseTurn(constants, field, E, V, R, vR, thetaS, samples, turn); !o)
      return o;
    ++result.iterations;
    const double fR = turn.Rend - R, fV = turn.vRend - vR;  // m, m/rad
    result.dReo = fR;
    result.dVr = fV;
    const OneTurnMatrix& m = turn.radial;
    const double a = m.m11 - 1, d = m.m22 - 1;
    const double det = a * d - m.m12 * m.m21;  // det(M - I)
    if (!(std::fabs(det) >= kSingularDeterminant)) {
      result.status = ClosureStatus::Singular;
      result.warning =
          Message{"The one-turn matrix of the radial motion is singular at Ek = " + MeV(Ek) +
                      " MeV (radial tune a whole number): the closed orbit is not "
                      "isolated!",
                  "Error", Icon::Warning, Owner::None};
      break;
    }
    if (std::fabs(fR) <= kPreciseToleranceR && std::fabs(fV) <= kPreciseToleranceVr) {
      result.status = ClosureStatus::Converged;
      break;
    }
    if (result.iterations >= kMaxPreciseIterations) {
      result.status = ClosureStatus::NotConverged;
      result.warning =
          Message{"The precise closed orbit at Ek = " + MeV(Ek) + " MeV did not close within " +
                      std::to_string(kMaxPreciseIterations) + " turns!",
                  "Error", Icon::Warning, Owner::None};
      break;
    }
    // Newton step: (M - I) delta = -(end - start).
    double dR = -(d * fR - m.m12 * fV) / det;
    double dV = -(a * fV - m.m21 * fR) / det;
    // Far from the closed orbit the linear step may overshoot: keep it within a quarter of the
    // radius and within half the speed.
    const double limitR = 0.25 * R;
    double scale = 1;
    if (std::fabs(dR) > limitR) scale = limitR / std::fabs(dR);
    if (std::fabs(vR + scale * dV) > 0.5 * V && std::fabs(dV) > 0)
      scale = std::min(scale, std::fabs((std::copysign(0.5 * V, dV) - vR) / dV));
    R = R + scale * dR;
    vR = vR + scale * dV;
  }

  const double span = turn.tauTurn - constants.T0;  // rad, exactly one turn
  result.Rmn = turn.integralR / span;
  result.Bmn = turn.integralB / span;
  result.Rev = result.Rmn * (1 + y);
  result.F0 = 1 / (constants.invOmega0 * span);
  result.Rs = R;
  result.vRs = vR;
  result.thetaS = thetaS;
  result.radial = turn.radial;
  result.vertical = turn.vertical;
  result.nuR = TuneOfMatrix(turn.radial);
  result.nuZ = TuneOfMatrix(turn.vertical);
  return {};
}

}  // namespace zuba
