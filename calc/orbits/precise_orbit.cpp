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

#include "calc/orbits/precise_turn.h"
#include "numerics/average_field.h"
#include "numerics/interpolation.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {

using precise_detail::SampleTurn;
using precise_detail::TrackTurn;
using precise_detail::TurnAccuracy;
using precise_detail::TurnPath;

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
  const double half = (m.m11 - m.m22) / 2;
  const double sine = std::sqrt(std::max(0.0, -m.m12 * m.m21 - half * half));  // |sin 2 pi nu|
  const double x = std::atan2(sine, halfTrace) / kTwoPi;  // fractional tune folded into [0, 1/2]
  const double fraction = m.m12 >= 0 ? x : 1 - x;         // sin(2 pi nu) has the sign of m12
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

// The ion of one energy, as the closure needs it.
struct Ion {
  double Ek = 0;      // J, kinetic energy
  double E = 0;       // J, total energy
  double beta = 0;    // speed relative to light
  double V = 0;       // m/rad, the speed in units of omega0
  double kOverE = 0;  // 1/T: b = kOverE * B
  // The level of nearness to a whole or half tune its turns with the tunes start at
  // (PreciseStarts::tuneLevel).
  int32_t tuneLevel = 0;
  precise_detail::NextTurn* next = nullptr;  // PreciseStarts::next
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
  bool full = false;                 // turn's matrices integrated to the tolerance, both of them
  bool gaveUp = false;               // ended after its first turn (leastResidual of CloseFrom)
  int32_t turns = 0;                 // turns integrated
  int64_t steps = 0;                 // their integration steps
};

// A seed comes from a closed orbit of a nearby energy or field: where even its first turn leaves
// the map, the orbit of this energy needs the field beyond it, as where a Newton closure is pulled
// off the map.
int Rank(const Closure& c) {
  return ClosureRank(c.status, !c.followed && !c.continued, TuneOfMatrix(c.turn.radial).stable);
}

// Below this closure residual (m, m/rad) a turn whose one-turn matrices only followed the orbit
// is followed by a Newton step and a turn with the matrices to the tolerance: the step closes the
// orbit to about the residual's square, so that this turn is mostly the last one. It takes in the
// first turns from the seeds of four closed neighbours (on the ring example 1e-7 to 2e-5).
constexpr double kFullTurnResidual = 3e-5;
// |det(M - I)| of such a turn below which the same start is integrated again with the matrices to
// the tolerance, which tells whether the matrix is singular.
constexpr double kFollowedSingular = 1e-6;

// The Newton step (dR, dV) of closure c, (M - I) delta = -(end - start), and the factor that keeps
// it within a quarter of the radius and half the speed (far from the closed orbit the linear step
// may overshoot).
double NewtonStep(const Closure& c, double det, const Ion& ion, double& dR, double& dV) {
  const OneTurnMatrix& m = c.turn.radial;
  const double a = m.m11 - 1, d = m.m22 - 1;
  dR = -(d * c.fR - m.m12 * c.fV) / det;
  dV = -(a * c.fV - m.m21 * c.fR) / det;
  const double limitR = 0.25 * c.R;
  double scale = 1;
  if (std::fabs(dR) > limitR) scale = limitR / std::fabs(dR);
  if (std::fabs(c.vR + scale * dV) > 0.5 * ion.V && std::fabs(dV) > 0)
    scale = std::min(scale, std::fabs((std::copysign(0.5 * ion.V, dV) - c.vR) / dV));
  return scale;
}

// A turn of a closure over arc from order: Full (the turn with the tunes) or Orbit, as TrackTurn
// integrates it. Over a whole turn with the ion's NextTurn, an Orbit turn that was kept for this
// closure is taken, and a Full turn is integrated beside the first turn of the next energy, which
// is kept.
Outcome TrackClosureTurn(const OrbitConstants& constants, const FieldPatches& field, const Ion& ion,
                         const precise_detail::TurnOrder& order, bool full, double arc,
                         TurnPath& path, PreciseTurn& turn, int64_t& steps) {
  precise_detail::NextTurn* next = arc == kTwoPi ? ion.next : nullptr;
  if (next && !full && next->Take(order, path, turn, steps)) return {};
  precise_detail::TurnOrder first;
  if (!next || !full || !next->after || !next->after({order.Rs, order.vRs, order.thetaS}, first))
    return TrackTurn(constants, field, order.E, order.V, order.Rs, order.vRs, order.thetaS, path,
                     turn, steps, full ? TurnAccuracy::Full : TurnAccuracy::Orbit, arc,
                     ion.tuneLevel);
  // Path and turn as TrackTurn leaves them, where it fails too.
  thread_local precise_detail::TurnResult mine;
  mine.steps = 0;
  mine.turn = turn;
  next->kept.reset();
  next->result.steps = 0;
  precise_detail::TrackTurnsInTurn(constants, field, order, ion.tuneLevel, mine, first,
                                   next->result);
  if (next->result.outcome) next->kept = first;
  steps += mine.steps;
  std::swap(path, mine.path);
  turn = mine.turn;
  return mine.outcome;
}

// A first arc of one sector from the mean field's estimate that ends closer than this to its
// start (m, m/rad) leaves the closure to whole turns from the estimate: a Newton turn takes such a
// residual below kFullTurnResidual, and the sector's arcs would cost as much. Further off, whole
// turns need two Newton turns or more (on the ring example the first arcs end 1 to 3 cm off).
constexpr double kSectorStartResidual = 5e-3;
// A closure for a start (orbitOnly) ends with the Newton step from a turn whose residual (m, m/rad)
// is below this, without the turn after it.
constexpr double kStartResidual = 1e-6;

// A closed orbit whose closure residual exceeds this (m, m/rad) takes one more Newton step, kept
// where its turn closes better: the residuals a run reports stay near the integration's own.
constexpr double kPolishResidual = 1e-10;

// The one more Newton step of a closed orbit c (of det(M - I) = det) whose residual exceeds
// kPolishResidual; path holds c's orbit before and after.
void Polish(const OrbitConstants& constants, const FieldPatches& field, const Ion& ion, double det,
            double arc, Closure& c, TurnPath& path) {
  if (std::fabs(c.fR) <= kPolishResidual && std::fabs(c.fV) <= kPolishResidual) return;
  double dR = 0, dV = 0;
  if (NewtonStep(c, det, ion, dR, dV) != 1) return;
  thread_local TurnPath polished;
  PreciseTurn turn;
  ++c.turns;
  const double R = c.R + dR, vR = c.vR + dV;
  // The next energy's first turn kept for the orbit before, should this step not be taken.
  thread_local std::optional<precise_detail::TurnOrder> keptBefore;
  thread_local precise_detail::TurnResult resultBefore;
  if (ion.next) {
    keptBefore = ion.next->kept;
    if (keptBefore) resultBefore = ion.next->result;
  }
  auto restore = [&] {
    if (!ion.next || !keptBefore) return;
    ion.next->kept = keptBefore;
    ion.next->result = resultBefore;
  };
  if (!TrackClosureTurn(constants, field, ion, {ion.E, ion.V, R, vR, c.thetaS}, true, arc, polished,
                        turn, c.steps))
    return restore();
  const double fR = turn.Rend - R, fV = turn.vRend - vR;
  if (!(std::hypot(fR, fV) < std::hypot(c.fR, c.fV))) return restore();
  c.R = R;
  c.vR = vR;
  c.fR = fR;
  c.fV = fV;
  c.turn = turn;
  std::swap(path, polished);
}

// Newton closure of (R, vR) from one start. A step whose orbit leaves the map, or whose residual
// is not below the residual of the orbit it corrects, is halved; the last halving is taken if its
// orbit stays on the map. The turns integrate the one-turn matrices to the tolerance only where
// they are the last ones (kFullTurnResidual) or must tell a singular matrix: the Newton steps need
// them to a few digits. Every turn is integrated into path: after a closure that closed, or
// stopped at a singular matrix, it holds the orbit it ended on. With arc = 2 pi / N instead of a
// whole turn it closes the orbit that repeats itself after one sector (the turns it counts are
// then arcs). With orbitOnly the closure ends as closed on a turn whose matrices only followed the
// orbit, or on the Newton step from such a turn within kStartResidual, without the turn with the
// tunes nor a polishing step: the orbit as a start for another closure (its turn and path those of
// the turn before); it gives up (failed) where its first turn ends closer than leastResidual to its
// start.
Closure CloseFrom(const OrbitConstants& constants, const FieldPatches& field, const Ion& ion,
                  const OrbitStart& start, TurnPath& path, double arc = kTwoPi,
                  bool orbitOnly = false, double leastResidual = 0) {
  Closure c;
  c.R = start.R;
  c.vR = std::fabs(start.vR) < ion.V ? start.vR : 0;
  c.thetaS = start.thetaS;
  auto track = [&](double R, double vR, bool full, PreciseTurn& turn) {
    ++c.turns;
    Outcome o = TrackClosureTurn(constants, field, ion, {ion.E, ion.V, R, vR, c.thetaS}, full, arc,
                                 path, turn, c.steps);
    if (!o) c.refusal = o.failure();
    return o.ok();
  };
  // The first turn, from a closed orbit of a slightly changed field too, follows the matrices with
  // the orbit: a field changed at all moves the orbit by more than the closure's bounds, so that
  // a Newton step and the turn with the tunes follow anyway.
  bool full = false;  // c.turn's matrices are integrated to the tolerance
  if (!track(c.R, c.vR, full, c.turn)) return c;
  c.followed = true;
  for (int32_t steps = 0;; ++steps) {
    c.fR = c.turn.Rend - c.R;    // m
    c.fV = c.turn.vRend - c.vR;  // m/rad
    if (steps == 0 && orbitOnly && std::hypot(c.fR, c.fV) < leastResidual) {
      c.gaveUp = true;
      return c;
    }
    const OneTurnMatrix& m = c.turn.radial;
    const double det = (m.m11 - 1) * (m.m22 - 1) - m.m12 * m.m21;  // det(M - I)
    const bool outOfTurns = steps >= kMaxPreciseIterations || c.turns >= kMaxClosureTurns;
    if (!full && !(std::fabs(det) >= kFollowedSingular) && !outOfTurns) {
      if (!track(c.R, c.vR, true, c.turn)) return c;
      full = true;
      continue;
    }
    if (full && !(std::fabs(det) >= kSingularDeterminant)) {
      c.status = ClosureStatus::Singular;
      return c;
    }
    if ((full || orbitOnly) && std::fabs(c.fR) <= kPreciseToleranceR &&
        std::fabs(c.fV) <= kPreciseToleranceVr) {
      c.status = ClosureStatus::Converged;
      if (!orbitOnly) Polish(constants, field, ion, det, arc, c, path);
      return c;
    }
    if (outOfTurns) {
      c.status = ClosureStatus::NotConverged;
      c.full = full;
      return c;
    }
    double dR = 0, dV = 0;
    const double scale = NewtonStep(c, det, ion, dR, dV);
    const double residual = std::hypot(c.fR, c.fV);
    if (orbitOnly && scale == 1 && residual < kStartResidual) {
      // A start for another closure: the step's orbit is within about the square of this
      // residual of the closed one, and its turn would only confirm it.
      c.R += dR;
      c.vR += dV;
      c.status = ClosureStatus::Converged;
      return c;
    }
    const bool nextFull =
        full || (!orbitOnly && std::max(std::fabs(c.fR), std::fabs(c.fV)) < kFullTurnResidual);
    bool accepted = false, leftMap = false;
    double lambda = 1;
    for (int32_t halving = 0; halving <= kMaxStepHalvings; ++halving, lambda *= 0.5) {
      if (c.turns >= kMaxClosureTurns) break;
      const double R = c.R + scale * lambda * dR, vR = c.vR + scale * lambda * dV;
      PreciseTurn turn;
      if (!track(R, vR, nextFull, turn)) {
        leftMap = true;
        continue;
      }
      const bool last = halving == kMaxStepHalvings || c.turns >= kMaxClosureTurns;
      const bool closes = std::fabs(turn.Rend - R) <= kPreciseToleranceR &&
                          std::fabs(turn.vRend - vR) <= kPreciseToleranceVr;
      if (!(std::hypot(turn.Rend - R, turn.vRend - vR) < residual) && !closes && !last) continue;
      c.R = R;
      c.vR = vR;
      c.turn = turn;
      full = nextFull;
      accepted = true;
      break;
    }
    if (!accepted) {
      // Every shortened step left the map (the closed orbit lies beyond it), or the turns ran out
      // on the way.
      c.status = leftMap ? ClosureStatus::Failed : ClosureStatus::NotConverged;
      c.full = full;
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
  const std::span<const double> th = samples.theta;
  const double theta0 = th[0];
  const double x = theta0 + std::fmod(std::fmod(theta - theta0, kTwoPi) + kTwoPi, kTwoPi);
  const size_t i =
      std::clamp<size_t>(
          static_cast<size_t>(std::upper_bound(th.begin(), th.end(), x) - th.begin()), 1, m) -
      1;
  // The cubic through the samples i - 1 .. i + 2 of the periodic orbit (a sample's azimuth taken a
  // turn earlier or later across the turn's ends), in the Lagrange form.
  double nodes[4];
  size_t index[4];
  for (size_t j = 0; j < 4; ++j) {
    const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(i + j) - 1;
    const std::ptrdiff_t wrapped =
        (k + static_cast<std::ptrdiff_t>(m)) % static_cast<std::ptrdiff_t>(m);
    index[j] = static_cast<size_t>(wrapped);
    const double turns = k < 0 ? -1.0 : (k > wrapped ? 1.0 : 0.0);  // k lies in [-1, m + 1]
    nodes[j] = th[index[j]] + kTwoPi * turns;
  }
  OrbitStart at{0, 0, theta};
  for (size_t j = 0; j < 4; ++j) {
    double weight = 1;
    for (size_t q = 0; q < 4; ++q)
      if (q != j) weight *= (x - nodes[q]) / (nodes[j] - nodes[q]);
    at.R += weight * samples.R[index[j]];
    at.vR += weight * samples.vR[index[j]];
  }
  return at;
}

namespace {

// The search of one energy over its starts: the best closure so far (and its orbit) while the
// others are tried, and the turns and steps of all of them.
struct StartSearch {
  const OrbitConstants& constants;
  const AverageFieldTables& tables;
  const FieldPatches& field;
  const Ion& ion;
  TurnPath& path;      // the turn being integrated
  TurnPath& bestPath;  // the orbit of the best closure
  Closure best = {};
  bool tried = false;
  bool sectorFromEstimate = false;  // the orbit of one sector was sought in full from the estimate
  int32_t turns = 0;
  int64_t steps = 0;
  double rLow = tables.radii.empty() ? 0 : tables.radii.front();
  double rHigh = tables.radii.empty() ? 0 : tables.radii.back();

  // Closes from one start; true when the orbit closed with stable radial motion.
  bool CloseFromStart(const OrbitStart& start, bool seed = false) {
    Closure c = CloseFrom(constants, field, ion, start, path);
    c.continued = seed;
    if (c.status == ClosureStatus::NotConverged && !c.full) FullTurn(c);
    turns += c.turns;
    steps += c.steps;
    if (!tried || Rank(c) > Rank(best)) {
      best = std::move(c);
      std::swap(path, bestPath);
    }
    tried = true;
    return Rank(best) == kStableClosureRank;
  }
  // The turn of a closure that ended without closing, integrated again with its matrices to the
  // tolerance (the Newton turns left the vertical one out), for the values it reports.
  void FullTurn(Closure& c) {
    PreciseTurn turn;
    ++c.turns;
    if (!TrackTurn(constants, field, ion.E, ion.V, c.R, c.vR, c.thetaS, path, turn, c.steps,
                   TurnAccuracy::Full, kTwoPi, ion.tuneLevel))
      return;
    c.turn = turn;
    c.fR = turn.Rend - c.R;
    c.fV = turn.vRend - c.vR;
    c.full = true;
  }
  // The start at radius R with the default mode's vR0 and thetaS there.
  bool StartAt(double R, OrbitStart& start) const {
    start.R = R;
    return orbit_detail::TrialStart(constants, tables, R, start.vR, start.thetaS).ok();
  }
  // From the estimate r0 (where it settled on the map): first from the orbit that repeats itself
  // after one sector found from there where the estimate is far from it, then from r0 itself; then
  // from the mean field's circle. The estimate of the mean field leaves the closed orbit some 1 to
  // 3 cm away on the ring example, three Newton turns; the orbit of one sector, closed on arcs of
  // 1 / N turn, lies within the closure's tolerance of it in a field of N nearly equal sectors (on
  // the ring 1e-11 to 3e-6 m), so that its first whole turn goes straight to the turn with the
  // tunes.
  bool FromEstimates(bool estimated, double r0) {
    OrbitStart start;
    const bool onMap = estimated && r0 >= rLow && r0 <= rHigh && r0 > 0;
    if (onMap && constants.N > 1 && StartAt(r0, start)) {
      bool gaveUp = false;
      if (FromSector(start, kSectorStartResidual, &gaveUp)) return true;
      sectorFromEstimate = !gaveUp;
    }
    if (onMap && StartAt(r0, start) && CloseFromStart(start)) return true;
    double circle = 0;
    return MeanFieldCircle(field, tables.radii, ion.kOverE, ion.V, circle).ok() &&
           !(onMap && circle == r0) && StartAt(circle, start) && CloseFromStart(start);
  }
  // A scan of start radii over the map; the Newton closure starts from those whose first turn
  // closes best.
  bool FromScan() {
    std::vector<std::pair<double, OrbitStart>> candidates;  // residual, start
    for (int32_t k = 0; k < kScanRadii; ++k) {
      OrbitStart start;
      if (!StartAt(rLow + (rHigh - rLow) * (k + 0.5) / kScanRadii, start)) continue;
      if (!(std::fabs(start.vR) < ion.V)) start.vR = 0;
      PreciseTurn turn;
      ++turns;
      if (!TrackTurn(constants, field, ion.E, ion.V, start.R, start.vR, start.thetaS, path, turn,
                     steps, TurnAccuracy::Path))
        continue;
      candidates.emplace_back(std::hypot(turn.Rend - start.R, turn.vRend - start.vR), start);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t k = 0; k < candidates.size() && k < kScanClosures; ++k)
      if (CloseFromStart(candidates[k].second)) return true;
    return false;
  }
  // Near an edge of the map a start off the closed orbit may leave the map within one turn
  // although the closed orbit lies inside it. The orbit that repeats itself after one sector
  // (2 pi / N) is found over a sector's arc, which stays close to it; in an N-fold symmetric
  // field it is the closed orbit, in any other a start near it. From the estimate, then from
  // kSectorScanRadii radii over the map from the inside out: where an energy has several closed
  // orbits (near a falling field), the innermost, which the ions reach first, is found first.
  bool FromSectors(bool estimated, double r0) {
    std::vector<double> radii;
    if (estimated && r0 >= rLow && r0 <= rHigh && !sectorFromEstimate) radii.push_back(r0);
    for (int32_t k = 0; k < kSectorScanRadii; ++k)
      radii.push_back(rLow + (rHigh - rLow) * (k + 0.5) / kSectorScanRadii);
    bool closed = false;
    for (size_t k = 0; k < radii.size() && !closed; ++k) {
      OrbitStart start;
      if (StartAt(radii[k], start)) closed = FromSector(start);
    }
    return closed;
  }
  // The orbit that repeats itself after one sector, closed from start (unless its first arc ends
  // closer than leastResidual to the start), and the whole turn's closure from it where it closed;
  // its arcs count as turns by N (rounded up).
  bool FromSector(const OrbitStart& start, double leastResidual = 0, bool* gaveUp = nullptr) {
    const Closure periodic =
        CloseFrom(constants, field, ion, start, path, kTwoPi / constants.N, true, leastResidual);
    if (gaveUp) *gaveUp = periodic.gaveUp;
    turns += (periodic.turns + constants.N - 1) / constants.N;
    steps += periodic.steps;
    return periodic.status == ClosureStatus::Converged &&
           CloseFromStart({periodic.R, periodic.vR, periodic.thetaS});
  }
};

// The values of the closure that ended on best's orbit (a closed one, or one a singular matrix
// was met on): the time means over its turn, F0, the tunes.
void ClosedValues(const OrbitConstants& constants, const Closure& best,
                  PreciseOrbitResult& result) {
  const PreciseTurn& turn = best.turn;
  const double span = turn.tauTurn - constants.T0;  // rad, exactly one turn
  result.Rmn = turn.integralR / span;
  result.Bmn = turn.integralB / span;
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
  result.level = turn.level;
}

}  // namespace

namespace {

// The ion of kinetic energy Ek (J), its energy as in the default mode: total E (J) and speed
// relative to light.
Ion IonOf(const OrbitConstants& constants, double Ek) {
  const Kinematics kinematics = KinematicsOf(Ek, constants.E0);
  Ion ion;
  ion.Ek = Ek;
  ion.E = kinematics.E;
  ion.beta = kinematics.beta;
  ion.V = ion.beta * constants.rInfinity;
  ion.kOverE = constants.K / ion.E;
  return ion;
}

}  // namespace

SectorOrbitResult SectorOrbit(const OrbitConstants& constants, const FieldPatches& field, double Ek,
                              const OrbitStart& start) {
  SectorOrbitResult result;
  if (constants.N < 2) return result;
  thread_local TurnPath path;
  const Closure periodic =
      CloseFrom(constants, field, IonOf(constants, Ek), start, path, kTwoPi / constants.N, true);
  result.arcs = periodic.turns;
  result.steps = periodic.steps;
  if (periodic.status == ClosureStatus::Converged)
    result.orbit = OrbitStart{periodic.R, periodic.vR, periodic.thetaS};
  return result;
}

PreciseOrbitResult FindPreciseOrbit(const OrbitConstants& constants,
                                    const AverageFieldTables& tables, const FieldPatches& field,
                                    double Ek, OrbitSamples& samples, const PreciseStarts& starts) {
  Ion ion = IonOf(constants, Ek);
  ion.tuneLevel = starts.tuneLevel;
  ion.next = starts.next;
  // The default estimate; its y also corrects Rev.
  double y = 0, r0 = 0;
  const bool estimated = StartRadius(constants, tables, ion.beta, y, r0).ok() && Proper(y);

  // Each thread keeps the storage of the turns from energy to energy.
  thread_local TurnPath path, bestPath;
  StartSearch search{constants, tables, field, ion, path, bestPath};
  bool closed = false;
  for (const OrbitStart& seed : starts.seeds)
    if ((closed = search.CloseFromStart(seed, true))) break;
  const bool overMap = starts.estimates && search.rHigh > search.rLow;
  if (!closed && starts.estimates) closed = search.FromEstimates(estimated, r0);
  if (!closed && overMap) closed = search.FromScan();
  if (!closed && overMap && constants.N > 1) search.FromSectors(estimated, r0);

  const Closure& best = search.best;
  PreciseOrbitResult result;
  samples.Clear();
  result.iterations = search.turns;
  result.steps = search.steps;
  result.status = best.status;
  result.noStart = best.status == ClosureStatus::Failed && !best.followed && !best.continued;
  result.reason = Reason(best);
  if (best.status != ClosureStatus::Converged) result.warning = Warning(best, Ek, result.reason);
  if (best.status == ClosureStatus::Failed) {
    result.nuR = result.nuZ = Tune{kNoValue, false};
    return result;
  }
  SampleTurn(bestPath, field, ion.V, constants.T0, samples);
  ClosedValues(constants, best, result);
  result.Rev = PreciseRev(result.Rmn, estimated, y, r0, search.rLow, search.rHigh, result.note);
  return result;
}

}  // namespace zuba
