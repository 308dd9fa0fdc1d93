// The precise closed orbit: one-turn integration in azimuth with the linearised radial and
// vertical motion, Newton closure of (R, vR), tunes from the one-turn matrices.
#include "calc/orbits/precise_orbit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "numerics/average_field.h"
#include "numerics/dormand_prince.h"
#include "numerics/interpolation.h"
#include "numerics/kinematics.h"
#include "numerics/runge_kutta.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {

std::string_view ClosureModeName(ClosureMode mode) {
  return mode == ClosureMode::Precise ? "precise" : "standard";
}

std::optional<ClosureMode> ParseClosureMode(std::string_view name) {
  if (name == "standard") return ClosureMode::Standard;
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

// The derivatives with respect to theta.
struct Derivatives {
  explicit Derivatives(const FieldPatches& field, double kOverE, double V)
      : field(field), cursor(field), kOverE(kOverE), V(V) {}

  const FieldPatches& field;
  FieldPatches::PatchCursor cursor;
  double kOverE;    // 1/T: b = kOverE * B
  double V;         // m/rad, the speed
  Outcome refusal;  // why the last evaluation was refused

  // false, with refusal saying why, when the point is refused.
  bool operator()(double theta, const State& y, State& d) {
    const double R = y[kR], vR = y[kVr];
    const double speedLeft = V * V - vR * vR;  // (m/rad)^2, (R w)^2
    if (!(speedLeft > 0) || !(R > 0)) [[unlikely]]
      return Refuse(R, vR);
    double B = 0, dBdR = 0, dBdTheta = 0;
    if (!cursor.Evaluate(R, theta, B, dBdR, dBdTheta)) [[unlikely]] {
      refusal = field.PatchRefusal(R, theta);
      return false;
    }
    const double root = std::sqrt(speedLeft);  // m/rad, R w
    const double invR = 1 / R;
    const double w = root * invR;
    const double invW = R / root;  // dtau/dtheta
    const double b = kOverE * B;
    d[kR] = vR * invW;
    d[kVr] = R * (w - b);
    d[kTau] = invW;
    d[kIntR] = R * invW;
    d[kIntB] = B * invW;
    // Linearised radial motion, with w = sqrt(V^2 - vR^2) / R: dw/dR = -w / R,
    // dw/dvR = -vR / (R^2 w).
    const double a11 = vR * invW * invR;
    const double a12 = invW + a11 * a11 * invW;
    const double a21 = -b - R * kOverE * dBdR;
    const double a22 = -a11;
    d[kP11] = a11 * y[kP11] + a12 * y[kP21];
    d[kP12] = a11 * y[kP12] + a12 * y[kP22];
    d[kP21] = a21 * y[kP11] + a22 * y[kP21];
    d[kP22] = a21 * y[kP12] + a22 * y[kP22];
    // Vertical motion to first order off the median plane of a symmetric field:
    // d2z/dtau2 = (K / E) z (R w dB/dR - (vR / R) dB/dtheta), with u = dz/dtau.
    const double zForce = kOverE * (R * w * dBdR - vR * invR * dBdTheta) * invW;  // du/dtheta per z
    d[kZ11] = invW * y[kZ21];
    d[kZ12] = invW * y[kZ22];
    d[kZ21] = zForce * y[kZ11];
    d[kZ22] = zForce * y[kZ12];
    return true;
  }

  bool Refuse(double R, double vR) {
    refusal = ErrorFailure(
        "The orbit lost its azimuthal motion at R = " + FormatNumber(R, Significant(6)) +
            " m, vR = " + FormatNumber(vR, Significant(6)) +
            " m/rad: no closed orbit at this energy!",
        "vR", vR, -V, V);
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
  return FormatNumber(JoulesToMeV(ekJoules), Significant(6));
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

namespace {

// The path of one integrated turn, from which its samples are drawn: per step its start azimuth,
// its length and the coefficients of the continuous extension of R, vR and the elapsed tau.
struct TurnPath {
  struct Step {
    double theta0 = 0, h = 0;  // rad
    std::array<double, 5> R{}, vR{}, tau{};
  };
  std::vector<Step> steps;
  double thetaS = 0, thetaEnd = 0;  // rad
  double Rs = 0, vRs = 0;           // m, m/rad: the start
  double Rend = 0, vRend = 0;       // m, m/rad: the end
  double elapsed = 0;               // rad, tau over the turn
};

// The error of a step relative to the size of each component: the radius and its integral in
// units of the start radius, vR in units of the speed, the elapsed tau in radians, the field's
// integral in units of E / K (the field that bends the ion on a circle of radius R_inf), the
// one-turn matrices in units of 1; each at least the component's own size.
struct TurnErrorNorm {
  double tolerance = 0;
  std::array<double, kComponents> scale{};

  double operator()(const State& y0, const State& y1, const State& error) const {
    double worst = 0;
    for (std::size_t i = 0; i < kComponents; ++i) {
      const double size = std::max(scale[i], std::max(std::fabs(y0[i]), std::fabs(y1[i])));
      worst = std::max(worst, std::fabs(error[i]) / size);
    }
    return worst / tolerance;
  }
};

// Integrates one turn (or the arc given) from (Rs, vRs) at thetaS into path and turn; tau starts
// at zero.
// steps counts the integration steps made.
Outcome TrackTurn(const OrbitConstants& constants, const FieldPatches& field, double E, double V,
                  double Rs, double vRs, double thetaS, TurnPath& path, PreciseTurn& turn,
                  int64_t& steps, double arc = kTwoPi) {
  Derivatives f(field, constants.K / E, V);
  State y{};
  y[kR] = Rs;
  y[kVr] = vRs;
  y[kP11] = y[kP22] = y[kZ11] = y[kZ22] = 1;

  TurnErrorNorm norm;
  norm.tolerance = constants.tolerance;
  norm.scale.fill(1.0);
  norm.scale[kR] = norm.scale[kIntR] = std::fabs(Rs);
  norm.scale[kVr] = V;
  norm.scale[kIntB] = E / std::fabs(constants.K);

  const double knotSpacing = kTwoPi / std::max(field.AzimuthNodes(), 1);  // rad
  StepControl control;
  control.initialStep = knotSpacing / 2;
  control.smallestStep = kSmallestPreciseStep;
  control.maxSteps = kMaxPreciseTurnSteps;
  // The azimuth nodes of the map, where the field's azimuthal spline changes its cubic: no step
  // crosses one.
  const double guard = 1e-9 * knotSpacing;
  double knot = -HUGE_VAL;
  auto nextBreak = [&](double t) {
    if (!(t < knot - guard)) {
      knot = field.NextAzimuthNode(t);
      if (knot - t < guard) knot = field.NextAzimuthNode(knot + guard);
    }
    return knot;
  };
  // The radius nodes, where the field's radial spline changes its cubic: a step whose orbit meets
  // one is made again to end where it meets it (found on the step's continuous extension of R).
  const std::span<const double> radii = field.Radii();
  const auto lastCell = static_cast<std::ptrdiff_t>(radii.size()) - 2;
  auto cellOf = [&](double R) {
    const std::ptrdiff_t c = std::upper_bound(radii.begin(), radii.end(), R) - radii.begin() - 1;
    return std::clamp<std::ptrdiff_t>(c, 0, lastCell);
  };
  auto cutAt = [&](const DenseStep<kComponents>& step) {
    const std::array<double, 5> c = step.Coefficients(kR);
    const std::ptrdiff_t cell = cellOf((*step.y0)[kR]);
    double before = 0, previous = (*step.y0)[kR];
    for (const double s : {0.25, 0.5, 0.75, 1.0}) {
      const double R = s == 1.0 ? (*step.y1)[kR] : DenseValue(c, s);
      if (cellOf(R) != cell) {
        const double node =
            R > previous ? radii[static_cast<size_t>(cell) + 1] : radii[static_cast<size_t>(cell)];
        double low = before, high = s;  // R - node changes its sign between them
        const double sign = DenseValue(c, low) - node;
        for (int32_t k = 0; k < 40 && high - low > 1e-7; ++k) {
          const double middle = 0.5 * (low + high);
          ((DenseValue(c, middle) - node) * sign > 0 ? low : high) = middle;
        }
        return step.t0 + 0.5 * (low + high) * step.h;
      }
      before = s;
      previous = R;
    }
    return HUGE_VAL;
  };

  path.steps.clear();
  path.thetaS = thetaS;
  path.thetaEnd = thetaS + arc;
  path.Rs = Rs;
  path.vRs = vRs;
  int radialSign = 0, verticalSign = 0;
  int32_t radialChanges = 0, verticalChanges = 0;
  auto onStep = [&](const DenseStep<kComponents>& step) {
    path.steps.push_back(
        {step.t0, step.h, step.Coefficients(kR), step.Coefficients(kVr), step.Coefficients(kTau)});
    CountSignChange((*step.y1)[kP12], radialSign, radialChanges);
    CountSignChange((*step.y1)[kZ12], verticalSign, verticalChanges);
  };
  const AdaptiveResult<kComponents> end =
      IntegrateDormandPrince(f, thetaS, path.thetaEnd, y, control, norm, onStep, nextBreak, cutAt);
  steps += end.accepted + end.rejected;
  switch (end.end) {
    case AdaptiveEnd::Reached:
      break;
    case AdaptiveEnd::Refused:
      return f.refusal;
    case AdaptiveEnd::Underflow:
    case AdaptiveEnd::StepLimit:
      // Steps that crept up to the map's edge after a refused point: the edge is the reason.
      if (!f.refusal) return f.refusal;
      return StepControlFailure(end.end, constants.tolerance, end.t, end.y[kR]);
  }
  const State& last = end.y;
  path.Rend = last[kR];
  path.vRend = last[kVr];
  path.elapsed = last[kTau];
  turn.Rend = last[kR];
  turn.vRend = last[kVr];
  turn.tauTurn = constants.T0 + last[kTau];
  turn.integralR = last[kIntR];
  turn.integralB = last[kIntB];
  turn.radial = {last[kP11], last[kP12], last[kP21], last[kP22], radialChanges};
  turn.vertical = {last[kZ11], last[kZ12], last[kZ21], last[kZ22], verticalChanges};
  turn.steps = end.accepted + end.rejected;
  return {};
}

// The samples of an integrated turn: the start of every accepted step and the turn's end (R, vR and
// tau as integrated), w from R and vR, B from the field.
void SampleTurn(const TurnPath& path, const FieldPatches& field, double V, double T0,
                OrbitSamples& samples) {
  samples.Clear();
  samples.Reserve(path.steps.size() + 1);
  FieldPatches::Cursor cursor(field);
  auto append = [&](double theta, double R, double vR, double tau) {
    const double w = std::sqrt(std::max(V * V - vR * vR, 0.0)) / R;
    double B = 0;
    if (!cursor.TryEvaluate(R, theta, B)) B = 0;
    samples.Append(R, vR, theta, w, T0 + tau, B);
  };
  for (const TurnPath::Step& step : path.steps)
    append(step.theta0, step.R[0], step.vR[0], step.tau[0]);
  append(path.thetaEnd, path.Rend, path.vRend, path.elapsed);
}

}  // namespace

Failure StepControlFailure(AdaptiveEnd end, double tolerance, double theta, double R) {
  const double degrees = std::fmod(std::fmod(Degrees(theta), 360.0) + 360.0, 360.0);
  const std::string where = "at theta = " + FormatNumber(degrees, Significant(6)) +
                            " deg, R = " + FormatNumber(R, Significant(6)) + " m";
  if (end == AdaptiveEnd::StepLimit)
    return ErrorFailure("The integration of one turn needed more than " +
                            std::to_string(kMaxPreciseTurnSteps) + " steps " + where + "!",
                        "tolerance", tolerance, kMinPreciseTolerance, kMaxPreciseTolerance);
  return ErrorFailure("The integration cannot meet the tolerance " +
                          FormatNumber(tolerance, Significant(3)) + " " + where +
                          ": its step fell below " +
                          FormatNumber(kSmallestPreciseStep, Significant(3)) + " rad!",
                      "tolerance", tolerance, kMinPreciseTolerance, kMaxPreciseTolerance);
}

Outcome CheckPreciseTolerance(double tolerance) {
  if (tolerance >= kMinPreciseTolerance && tolerance <= kMaxPreciseTolerance) return {};
  return ErrorFailure(
      "The tolerance " + FormatNumber(tolerance, Significant(6)) +
          " is out of range (allowed: " + FormatNumber(kMinPreciseTolerance, Significant(3)) +
          " to " + FormatNumber(kMaxPreciseTolerance, Significant(3)) + ")!",
      "tolerance", tolerance, kMinPreciseTolerance, kMaxPreciseTolerance);
}

Outcome TrackPreciseTurn(const OrbitConstants& constants, const FieldPatches& field, double E,
                         double V, double Rs, double vRs, double thetaS, OrbitSamples& samples,
                         PreciseTurn& turn) {
  return TrackPreciseArc(constants, field, E, V, Rs, vRs, thetaS, kTwoPi, samples, turn);
}

Outcome TrackPreciseArc(const OrbitConstants& constants, const FieldPatches& field, double E,
                        double V, double Rs, double vRs, double thetaS, double arc,
                        OrbitSamples& samples, PreciseTurn& turn) {
  TurnPath path;
  int64_t steps = 0;
  if (Outcome o = TrackTurn(constants, field, E, V, Rs, vRs, thetaS, path, turn, steps, arc); !o)
    return o;
  SampleTurn(path, field, V, constants.T0, samples);
  return {};
}

namespace {

// The ion of one energy, as the closure needs it.
struct Ion {
  double Ek = 0;      // J, kinetic energy
  double E = 0;       // J, total energy
  double beta = 0;    // speed relative to light
  double V = 0;       // m/rad, the speed in units of omega0
  double kOverE = 0;  // 1/T: b = kOverE * B
};

// A value of the radius correction that corrects: not the missing-value marker.
bool Proper(double v) {
  return std::isfinite(v) && v < kNoValue / 2;
}

// Where one Newton closure from one start ended.
struct Closure {
  ClosureStatus status = ClosureStatus::Failed;
  bool followed = false;             // the start's first turn stayed on the map
  bool continued = false;            // the start came from a closed orbit (a seed)
  std::optional<Failure> refusal;    // the last refusal of the field met on the way
  double R = 0, vR = 0, thetaS = 0;  // the orbit it ended on
  double fR = 0, fV = 0;             // m, m/rad: its closure residual
  PreciseTurn turn;                  // its turn
  int32_t turns = 0;                 // turns integrated
  int64_t steps = 0;                 // their integration steps
};

// A seed comes from a closed orbit of a nearby energy or field: where even its first turn leaves
// the map, the orbit of this energy needs the field beyond it, as where a Newton closure is pulled
// off the map.
int Rank(const Closure& c) {
  return ClosureRank(c.status, !c.followed && !c.continued, TuneOfMatrix(c.turn.radial).stable);
}

// Newton closure of (R, vR) from one start. A step whose orbit leaves the map, or whose residual
// is not below the residual of the orbit it corrects, is halved; the last halving is taken if its
// orbit stays on the map. Every turn is integrated into path: after a closure that closed, or
// stopped at a singular matrix, it holds the orbit it ended on. With arc = 2 pi / N instead of a
// whole turn it closes the orbit that repeats itself after one sector (the turns it counts are
// then arcs).
Closure CloseFrom(const OrbitConstants& constants, const FieldPatches& field, const Ion& ion,
                  const OrbitStart& start, TurnPath& path, double arc = kTwoPi) {
  Closure c;
  c.R = start.R;
  c.vR = std::fabs(start.vR) < ion.V ? start.vR : 0;
  c.thetaS = start.thetaS;
  ++c.turns;
  if (Outcome o = TrackTurn(constants, field, ion.E, ion.V, c.R, c.vR, c.thetaS, path, c.turn,
                            c.steps, arc);
      !o) {
    c.refusal = o.failure();
    return c;
  }
  c.followed = true;
  for (int32_t steps = 0;; ++steps) {
    c.fR = c.turn.Rend - c.R;    // m
    c.fV = c.turn.vRend - c.vR;  // m/rad
    const OneTurnMatrix& m = c.turn.radial;
    const double a = m.m11 - 1, d = m.m22 - 1;
    const double det = a * d - m.m12 * m.m21;  // det(M - I)
    if (!(std::fabs(det) >= kSingularDeterminant)) {
      c.status = ClosureStatus::Singular;
      return c;
    }
    if (std::fabs(c.fR) <= kPreciseToleranceR && std::fabs(c.fV) <= kPreciseToleranceVr) {
      c.status = ClosureStatus::Converged;
      return c;
    }
    if (steps >= kMaxPreciseIterations || c.turns >= kMaxClosureTurns) {
      c.status = ClosureStatus::NotConverged;
      return c;
    }
    // Newton step: (M - I) delta = -(end - start).
    const double dR = -(d * c.fR - m.m12 * c.fV) / det;
    const double dV = -(a * c.fV - m.m21 * c.fR) / det;
    // Far from the closed orbit the linear step may overshoot: keep it within a quarter of the
    // radius and within half the speed.
    const double limitR = 0.25 * c.R;
    double scale = 1;
    if (std::fabs(dR) > limitR) scale = limitR / std::fabs(dR);
    if (std::fabs(c.vR + scale * dV) > 0.5 * ion.V && std::fabs(dV) > 0)
      scale = std::min(scale, std::fabs((std::copysign(0.5 * ion.V, dV) - c.vR) / dV));
    const double residual = std::hypot(c.fR, c.fV);
    bool accepted = false, leftMap = false;
    double lambda = 1;
    for (int32_t halving = 0; halving <= kMaxStepHalvings; ++halving, lambda *= 0.5) {
      if (c.turns >= kMaxClosureTurns) break;
      const double s = scale * lambda;
      const double R = c.R + s * dR, vR = c.vR + s * dV;
      PreciseTurn turn;
      ++c.turns;
      if (Outcome o =
              TrackTurn(constants, field, ion.E, ion.V, R, vR, c.thetaS, path, turn, c.steps, arc);
          !o) {
        c.refusal = o.failure();
        leftMap = true;
        continue;
      }
      const bool last = halving == kMaxStepHalvings || c.turns >= kMaxClosureTurns;
      if (!(std::hypot(turn.Rend - R, turn.vRend - vR) < residual) && !last) continue;
      c.R = R;
      c.vR = vR;
      c.turn = turn;
      accepted = true;
      break;
    }
    if (!accepted) {
      // Every shortened step left the map (the closed orbit lies beyond it), or the turns ran out
      // on the way.
      c.status = leftMap ? ClosureStatus::Failed : ClosureStatus::NotConverged;
      return c;
    }
  }
}

// The failure's text as part of a sentence: first letter lower case, no closing mark.
std::string Clause(const std::string& text) {
  std::string clause = text;
  while (!clause.empty() && (clause.back() == '!' || clause.back() == '.')) clause.pop_back();
  if (!clause.empty() && clause[0] >= 'A' && clause[0] <= 'Z' &&
      !(clause.size() > 1 && clause[1] >= 'A' && clause[1] <= 'Z'))
    clause[0] = static_cast<char>(clause[0] - 'A' + 'a');
  return clause;
}

// Why a closure that did not close ended, in a few words.
std::string Reason(const Closure& c) {
  switch (c.status) {
    case ClosureStatus::Converged:
      return {};
    case ClosureStatus::NotConverged:
      return "did not close within " + std::to_string(kMaxPreciseIterations) + " Newton steps";
    case ClosureStatus::Singular:
      return "the radial tune is a whole number (singular one-turn matrix)";
    case ClosureStatus::Failed:
      break;
  }
  if (!c.refusal) return "no start found";
  const Failure& f = *c.refusal;
  if (f.subject == "R" && std::isfinite(f.value) && std::isfinite(f.low) && std::isfinite(f.high)) {
    // The map's outer edge, or its inner edge (a radius below the first node is not extrapolated).
    // Where every start, the orbits repeating after one sector among them, left the map there, the
    // orbit of this energy needs the field the map does not have, as where a closure was pulled
    // off it.
    const bool beyond = f.value > f.high;
    return std::string("the orbit needs the field ") + (beyond ? "beyond" : "below") +
           " the map (R = " + FormatNumber(f.value, Significant(8)) + " m; the map " +
           (beyond ? "ends at " : "starts at ") +
           FormatNumber(beyond ? f.high : f.low, Significant(6)) + " m)";
  }
  const std::string why = Clause(f.message.text);
  return c.followed || c.continued ? why : "no start found: " + why;
}

// The notice of an energy that did not close.
Message Warning(const Closure& c, double Ek, const std::string& reason) {
  std::string text;
  switch (c.status) {
    case ClosureStatus::NotConverged:
      text = "The precise closed orbit at Ek = " + MeV(Ek) + " MeV did not close within " +
             std::to_string(kMaxPreciseIterations) + " Newton steps!";
      break;
    case ClosureStatus::Singular:
      text = "The one-turn matrix of the radial motion is singular at Ek = " + MeV(Ek) +
             " MeV (radial tune a whole number): the closed orbit is not isolated!";
      break;
    default:
      text = "No precise closed orbit at Ek = " + MeV(Ek) + " MeV: " + reason + "!";
      break;
  }
  return Message{text, "Error", Icon::Warning, Owner::None};
}

}  // namespace

double PreciseRev(double Rmn, bool estimated, double y, double r0, double rLow, double rHigh,
                  std::string& note) {
  auto metres = [](double R) { return FormatNumber(R, Significant(6)); };
  if (!estimated) {
    note = "no Rev: the average-field radius correction does not settle at this energy";
  } else if (!(r0 >= rLow && r0 <= rHigh)) {
    note = "no Rev: the average-field radius correction leaves the map's radii (R = " + metres(r0) +
           " m; the map has " + metres(rLow) + " to " + metres(rHigh) + " m)";
  } else if (!(std::fabs(y) <= kMaxRevCorrection)) {
    note = "no Rev: the average-field radius correction " + FormatNumber(y, Significant(3)) +
           " exceeds " + FormatNumber(kMaxRevCorrection, Significant(6)) + " of the radius";
  } else {
    return Rmn * (1 + y);
  }
  return kNoValue;
}

int ClosureRank(ClosureStatus status, bool noStart, bool radialStable) {
  switch (status) {
    case ClosureStatus::Converged:
      return radialStable ? kStableClosureRank : 4;
    case ClosureStatus::Singular:
      return 3;
    case ClosureStatus::NotConverged:
      return 2;
    case ClosureStatus::Failed:
      break;
  }
  return noStart ? 0 : 1;
}

std::string_view ClosureStatusName(ClosureStatus status) {
  switch (status) {
    case ClosureStatus::Converged:
      return "closed";
    case ClosureStatus::NotConverged:
      return "not_closed";
    case ClosureStatus::Singular:
      return "singular";
    case ClosureStatus::Failed:
      break;
  }
  return "failed";
}

OrbitStart OrbitAt(const OrbitSamples& samples, double theta) {
  const size_t n = samples.Size();
  if (n < 3) return n ? OrbitStart{samples.R[0], samples.vR[0], theta} : OrbitStart{0, 0, theta};
  const size_t m = n - 1;  // distinct samples of the periodic orbit
  const double theta0 = samples.theta[0];
  const double step = (samples.theta[m] - theta0) / static_cast<double>(m);  // rad
  const double x = theta0 + std::fmod(std::fmod(theta - theta0, kTwoPi) + kTwoPi, kTwoPi);
  const double u = (x - theta0) / step;
  const double k = std::clamp(std::floor(u), 0.0, static_cast<double>(m - 1));
  const double t = u - k;
  const size_t i = static_cast<size_t>(k);
  // Lagrange weights of the nodes -1, 0, 1, 2 at t.
  const double w[4] = {-t * (t - 1) * (t - 2) / 6, (t + 1) * (t - 1) * (t - 2) / 2,
                       -(t + 1) * t * (t - 2) / 2, (t + 1) * t * (t - 1) / 6};
  OrbitStart at{0, 0, theta};
  for (size_t j = 0; j < 4; ++j) {
    const size_t node = (i + m + j - 1) % m;
    at.R += w[j] * samples.R[node];
    at.vR += w[j] * samples.vR[node];
  }
  return at;
}

PreciseOrbitResult FindPreciseOrbit(const OrbitConstants& constants,
                                    const AverageFieldTables& tables, const FieldPatches& field,
                                    double Ek, OrbitSamples& samples, const PreciseStarts& starts) {
  // Energy as in the default mode: total E (J) and speed relative to light.
  const Kinematics kinematics = KinematicsOf(Ek, constants.E0);
  Ion ion;
  ion.Ek = Ek;
  ion.E = kinematics.E;
  ion.beta = kinematics.beta;
  ion.V = ion.beta * constants.rInfinity;
  ion.kOverE = constants.K / ion.E;
  PreciseOrbitResult result;

  // The default estimate; its y also corrects Rev.
  double y = 0, r0 = 0;
  const bool estimated = StartRadius(constants, tables, ion.beta, y, r0).ok() && Proper(y);

  // The turn being integrated and the orbit of the best closure while other starts are tried;
  // each thread keeps their storage from energy to energy.
  thread_local TurnPath path, bestPath;
  Closure best;
  bool tried = false;
  int32_t turns = 0;
  int64_t steps = 0;
  // Closes from one start; true when the orbit closed with stable radial motion.
  auto closeFrom = [&](const OrbitStart& start, bool seed = false) {
    Closure c = CloseFrom(constants, field, ion, start, path);
    c.continued = seed;
    turns += c.turns;
    steps += c.steps;
    if (!tried || Rank(c) > Rank(best)) {
      best = std::move(c);
      std::swap(path, bestPath);
    }
    tried = true;
    return Rank(best) == kStableClosureRank;
  };
  // The start at radius R with the default mode's vR0 and thetaS there.
  auto startAt = [&](double R, OrbitStart& start) {
    start.R = R;
    return orbit_detail::TrialStart(constants, tables, R, start.vR, start.thetaS).ok();
  };

  bool closed = false;
  for (const OrbitStart& seed : starts.seeds) {
    if ((closed = closeFrom(seed, true))) break;
  }
  const double rLow = tables.radii.empty() ? 0 : tables.radii.front();
  const double rHigh = tables.radii.empty() ? 0 : tables.radii.back();
  if (!closed && starts.estimates) {
    OrbitStart start;
    const bool onMap = estimated && r0 >= rLow && r0 <= rHigh && r0 > 0;
    if (onMap && startAt(r0, start)) closed = closeFrom(start);
    double circle = 0;
    if (!closed && MeanFieldCircle(field, tables.radii, ion.kOverE, ion.V, circle).ok() &&
        !(onMap && circle == r0) && startAt(circle, start))
      closed = closeFrom(start);
  }
  if (!closed && starts.estimates && rHigh > rLow) {
    // A scan of start radii over the map; the Newton closure starts from those whose first turn
    // closes best.
    struct Candidate {
      double residual;
      OrbitStart start;
    };
    std::vector<Candidate> candidates;
    for (int32_t k = 0; k < kScanRadii; ++k) {
      OrbitStart start;
      if (!startAt(rLow + (rHigh - rLow) * (k + 0.5) / kScanRadii, start)) continue;
      if (!(std::fabs(start.vR) < ion.V)) start.vR = 0;
      PreciseTurn turn;
      ++turns;
      if (!TrackTurn(constants, field, ion.E, ion.V, start.R, start.vR, start.thetaS, path, turn,
                     steps))
        continue;
      candidates.push_back({std::hypot(turn.Rend - start.R, turn.vRend - start.vR), start});
    }
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const Candidate& a, const Candidate& b) { return a.residual < b.residual; });
    for (size_t k = 0; k < candidates.size() && k < kScanClosures && !closed; ++k)
      closed = closeFrom(candidates[k].start);
  }
  if (!closed && starts.estimates && rHigh > rLow && constants.N > 1) {
    // Near an edge of the map a start off the closed orbit may leave the map within one turn
    // although the closed orbit lies inside it. The orbit that repeats itself after one sector
    // (2 pi / N) is found over a sector's arc, which stays close to it; in an N-fold symmetric
    // field it is the closed orbit, in any other a start near it. From the estimate, then from
    // kSectorScanRadii radii over the map from the inside out: where an energy has several closed
    // orbits (near a falling field), the innermost, which the ions reach first, is found first.
    std::vector<double> radii;
    if (estimated && r0 >= rLow && r0 <= rHigh) radii.push_back(r0);
    for (int32_t k = 0; k < kSectorScanRadii; ++k)
      radii.push_back(rLow + (rHigh - rLow) * (k + 0.5) / kSectorScanRadii);
    const double sector = kTwoPi / constants.N;  // rad
    int32_t arcs = 0;
    for (size_t k = 0; k < radii.size() && !closed; ++k) {
      OrbitStart start;
      if (!startAt(radii[k], start)) continue;
      const Closure periodic = CloseFrom(constants, field, ion, start, path, sector);
      arcs += periodic.turns;
      steps += periodic.steps;
      if (periodic.status != ClosureStatus::Converged) continue;
      closed = closeFrom({periodic.R, periodic.vR, periodic.thetaS});
    }
    turns += (arcs + constants.N - 1) / constants.N;
  }

  samples.Clear();
  result.iterations = turns;
  result.steps = steps;
  result.status = best.status;
  result.noStart = best.status == ClosureStatus::Failed && !best.followed && !best.continued;
  result.reason = Reason(best);
  if (best.status != ClosureStatus::Converged) result.warning = Warning(best, Ek, result.reason);
  if (best.status == ClosureStatus::Failed) {
    result.nuR = result.nuZ = Tune{kNoValue, false};
    return result;
  }
  SampleTurn(bestPath, field, ion.V, constants.T0, samples);

  const PreciseTurn& turn = best.turn;
  const double span = turn.tauTurn - constants.T0;  // rad, exactly one turn
  result.Rmn = turn.integralR / span;
  result.Bmn = turn.integralB / span;
  result.Rev = PreciseRev(result.Rmn, estimated, y, r0, rLow, rHigh, result.note);
  result.F0 = 1 / (constants.invOmega0 * span);
  result.dReo = best.fR;
  result.dVr = best.fV;
  result.Rs = best.R;
  result.vRs = best.vR;
  result.thetaS = best.thetaS;
  result.radial = turn.radial;
  result.vertical = turn.vertical;
  result.nuR = TuneOfMatrix(turn.radial);
  result.nuZ = TuneOfMatrix(turn.vertical);
  return result;
}

}  // namespace zuba
