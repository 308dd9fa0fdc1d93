// The precise closed orbit of one kinetic energy: Newton closure of both the radius and the radial
// velocity at the start azimuth, with the speed of the ion held at beta*c, the one-turn matrices of
// the linearised radial and vertical motion, and the betatron tunes taken from them.
//
// The orbit is integrated with the azimuth theta as the independent variable, so that a turn ends
// exactly at thetaS + 2 pi. With V = beta * R_inf (m/rad, the speed in units of omega0) the state
// is (R, vR) and w = dtheta/dtau = sqrt(V^2 - vR^2) / R follows from it:
//   dR/dtheta = vR / w,  dvR/dtheta = R (w - b),  dtau/dtheta = 1 / w,  b = (K / E) B(R, theta).
// Every stage of the integration evaluates the field and its derivatives at its own point, to the
// tolerance of the run (see below), not with the run's step h, which only the standard search
// uses. The time means over the turn are integrated as two more components (R / w and B / w), so
// they cover exactly the turn [tau0, tauTurn].
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "calc/orbits/orbit.h"
#include "numerics/dormand_prince.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace precise_detail {
struct NextTurn;
}

// How each energy's orbit is closed: the step-and-bisect search on the radius (the default), or
// the Newton closure of radius and radial velocity of this file.
enum class ClosureMode : int32_t { Standard = 0, Precise = 1 };

// "standard" or "precise".
std::string_view ClosureModeName(ClosureMode mode);
// The mode of a name as above; nullopt for any other text.
std::optional<ClosureMode> ParseClosureMode(std::string_view name);

// A betatron tune from a one-turn matrix; stable is false (and value kNoValue) where the motion
// grows from turn to turn.
struct Tune {
  double value = 0;
  bool stable = false;
};

// The one-turn matrix [[m11, m12], [m21, m22]] of a linear motion, and how many half-oscillations
// its sine-like solution (started with displacement 0) made over the turn.
struct OneTurnMatrix {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1;
  int32_t halfOscillations = 0;
};

// The tune of a one-turn matrix: cos(2 pi nu) = trace / 2, |sin(2 pi nu)| from the elements
// (sin^2 = -m12 m21 - (m11 - m22)^2 / 4 for a matrix of determinant 1: near a whole or half tune,
// where the trace changes only with the square of the distance, it keeps the elements' accuracy),
// its sign from m12, the whole half-turns from the half-oscillation count (nu lies in
// [n/2, (n+1)/2) for n of them). |trace / 2| above 1 + 1e-9 is unstable; up to there it is taken
// as the edge of stability.
Tune TuneOfMatrix(const OneTurnMatrix& matrix);

// Everything one turn of the precise integration gives, from a start (R, vR) at thetaS.
struct PreciseTurn {
  double Rend = 0, vRend = 0;  // m, m/rad: the state after exactly one turn
  double tauTurn = 0;          // rad, tau at the end of the turn (tau0 = T0 at the start)
  double integralR = 0;        // m rad, integral of R dtau over the turn
  double integralB = 0;        // T rad, integral of B dtau over the turn
  OneTurnMatrix radial;        // of (R, vR)
  OneTurnMatrix vertical;      // of (z, dz/dtau)
  int64_t steps = 0;           // integration steps made, the rejected ones included
  int32_t level = 0;           // the accuracy level its orbit and tunes need (see below)
  bool edgeCells = false;      // its orbit reached the map's first or last radial interval
};

// The integration of a turn: the embedded Runge-Kutta pair of Dormand and Prince (order 5, with
// an error estimate of order 4; numerics/dormand_prince.h) with its step controlled so that the
// error estimate of every step stays below OrbitConstants::tolerance, relative to the start radius
// (R and the integral of R), to the speed V (vR), to one radian (the elapsed tau) and to E / K (the
// integral of B), or to the component's own size where that is larger. The one-turn matrices of a
// turn that gives the tunes count in units of 100 (as accurate as the orbit relative to their
// swing), near a whole or half tune in units of 1 (see below); a Newton turn's radial matrix
// counts in units of 100 too: from a start close by its steps, and so its errors, are then those
// of the turn with the tunes, and the Newton step's orbit closes there to within the integration's
// own error (on the ring example 6 polishing steps in 260 energies against 15). No step crosses an
// azimuth node of the map (where the field's azimuthal spline changes its cubic and, at the map's
// first azimuth, its slope), and in the turn with the tunes no step crosses a radius node
// (where the radial spline changes its cubic): a step whose orbit meets one is made again to end on
// it. On the example maps the default tolerance (kDefaultPreciseTolerance, orbit.h) gives the
// closed orbits of a run at 1e-13 to F0 within 3e-11 relative, radii within 1e-10 m and tunes
// within 3e-9 (see docs/PERFORMANCE.md), with about 1200 steps per turn on the 0.5-degree ring map
// and 350 on the 2-degree maps. The turn with the tunes is integrated at one of three levels of
// accuracy. Level 0: the matrices in units of 100, as above. Level 1, where the orbit reaches the
// map's first or last radial interval: the matrices in units of 1. There the field is the parabola
// through the three nodes at the map's edge, which meets the spline of the next interval with a
// different slope, and at level 0 the tunes of the orbits that cross that node were off by up
// to 3.5e-7 (avf-14n5 with the proton preset at 55.2 MeV, against 1.4e-9 at level 1). Level 2, near
// a whole or half tune (|cos 2 pi nu| from kNearestWholeTune on, nu within 0.0023 of one, where the
// stability verdict is decided): the matrices in units of 1 and every component to a tenth of the
// tolerance. The tune itself comes from cos 2 pi nu and sin 2 pi nu of the matrix's elements
// (TuneOfMatrix), which keeps it as accurate as the elements near a whole or half tune too. A turn
// integrated at a lower level than it turns out to need is integrated again at that level.
inline constexpr double kNearestWholeTune = 0.9999;
// 2 near a whole or half tune (see above), else 0.
int32_t NearWholeTune(const OneTurnMatrix& matrix);
// The tolerances a run accepts.
inline constexpr double kMinPreciseTolerance = 1e-14;
inline constexpr double kMaxPreciseTolerance = 1e-4;
// The shortest step (rad) and the most steps (accepted and rejected) of one turn: a field the step
// control cannot follow at the tolerance ends the turn, with the azimuth and radius where it
// happened, instead of stepping on for ever.
inline constexpr double kSmallestPreciseStep = 1e-12;
inline constexpr int64_t kMaxPreciseTurnSteps = 100'000;

// Refuses a tolerance outside [kMinPreciseTolerance, kMaxPreciseTolerance] (or not a number),
// naming it.
Outcome CheckPreciseTolerance(double tolerance);

// The samples of a precise orbit lie on a fixed grid of azimuths, not at the integration's steps:
// the turn's start, the map's azimuth nodes inside the turn (where steps end), each node interval
// divided evenly into steps of at most kMaxPreciseSampleSpacing where the map is coarser, and the
// turn's end; a grid azimuth closer than a quarter of the spacing to the start or the end is left
// out. Inside a step a sample takes the step's continuous extension (order 4).
inline const double kMaxPreciseSampleSpacing = 2 * kPi / 180;  // rad, 2 degrees
// The spacing of that grid on a map (rad): its node spacing, or an even division of it.
double PreciseSampleSpacing(const FieldPatches& field);

// Integrates one turn from (Rs, vRs) at thetaS for an ion of total energy E (J) and speed
// V = beta * R_inf (m/rad). The samples (R, vR, theta, w, tau, B on the sample grid above, the
// turn's start and end among them) are written into `samples`. Fails with the field's
// refusal when the orbit leaves the map, with one of our own when |vR| reaches the speed, and with
// StepControlFailure when the step control cannot meet the tolerance.
Outcome TrackPreciseTurn(const OrbitConstants& constants, const FieldPatches& field, double E,
                         double V, double Rs, double vRs, double thetaS, OrbitSamples& samples,
                         PreciseTurn& turn);

// Why a turn's integration gave up (AdaptiveEnd::Underflow or StepLimit) at azimuth theta (rad)
// and radius R (m): one line naming the tolerance, the azimuth (degrees in the map's turn) and the
// radius; subject "tolerance".
Failure StepControlFailure(AdaptiveEnd end, double tolerance, double theta, double R);

// The same over an arc of the azimuth (rad) instead of a whole turn, to the same tolerance;
// TrackPreciseTurn is the arc 2 pi.
Outcome TrackPreciseArc(const OrbitConstants& constants, const FieldPatches& field, double E,
                        double V, double Rs, double vRs, double thetaS, double arc,
                        OrbitSamples& samples, PreciseTurn& turn);

// The bounds of the closure.
inline constexpr double kPreciseToleranceR = 1e-9;   // m
inline constexpr double kPreciseToleranceVr = 1e-9;  // m/rad
// Newton steps of one closure from one start.
inline constexpr int32_t kMaxPreciseIterations = 30;
// A Newton step whose orbit leaves the map, or whose closure residual is not smaller than that of
// the orbit it corrects, is halved up to this many times.
inline constexpr int32_t kMaxStepHalvings = 10;
// Turns one closure from one start may integrate, its halved steps included.
inline constexpr int32_t kMaxClosureTurns = 2 * kMaxPreciseIterations;
// Start radii tried, evenly over the map, when neither estimate closes the orbit; the Newton
// closure then starts from the few whose first turn closes best.
inline constexpr int32_t kScanRadii = 12;
inline constexpr int32_t kScanClosures = 3;
// Start radii over the map from which the orbit that repeats itself after one sector is sought when
// no start of a whole turn closes the orbit (near an edge of the map).
inline constexpr int32_t kSectorScanRadii = 24;
// |det(M - I)| below this is a singular one-turn matrix: the closed orbit is not isolated (radial
// tune within about 1.6e-6 of a whole number) and the Newton step is not formed.
inline constexpr double kSingularDeterminant = 1e-10;

// Rev = Rmn * (1 + y) of a precise orbit exists only where the start estimate's radius correction
// y settles at a radius inside the average-field tables and |y| is at most this: a Rev further
// than a tenth from Rmn is not a radius of that orbit. Otherwise Rev is kNoValue.
inline constexpr double kMaxRevCorrection = 0.1;

// Rev of a closed orbit of mean radius Rmn (m): Rmn * (1 + y) when the start estimate settled
// (estimated) at r0 within the tables' radii rLow .. rHigh (m) with |y| <= kMaxRevCorrection;
// otherwise kNoValue, with note saying why ("no Rev: ...").
double PreciseRev(double Rmn, bool estimated, double y, double r0, double rLow, double rHigh,
                  std::string& note);

// The status of one energy (also the two lowest bits of ClosureTables::status).
enum class ClosureStatus : int32_t {
  Converged = 0,     // closed within the tolerances
  NotConverged = 1,  // the Newton steps were exhausted without closing the orbit
  Singular = 2,      // det(M - I) vanishes: the radial tune is a whole number
  Failed = 3,        // no start could be followed for a turn, or the orbit needs the field beyond
                     // the map
};

// "closed", "not_closed", "singular" or "failed".
std::string_view ClosureStatusName(ClosureStatus status);

// A start of the Newton closure: (R, vR) at the azimuth thetaS (m, m/rad, rad).
struct OrbitStart {
  double R = 0, vR = 0, thetaS = 0;
};

// Where the closure of one energy starts: the seeds in their order, then, when estimates is set,
// the orbit that repeats itself after one sector sought from the default mode's estimate (in a
// field of more than one sector, where the estimate's first arc ends far from it), the estimate
// itself (start radius r0, vR0 and thetaS of its first trial), the circle of the azimuthal mean
// field, and a scan of start radii over the map. The first start from which the orbit closes with
// stable radial motion gives the result; where there is none, the closed orbit found first, else
// the start that got furthest (see ClosureRank).
struct PreciseStarts {
  std::span<const OrbitStart> seeds;
  bool estimates = true;
  // The accuracy level (see kNearestWholeTune) a closed neighbour's orbit and tunes need: the
  // turns with the tunes start at it instead of finding it from a first integration at level 0.
  int32_t tuneLevel = 0;
  // Where set, the turns with the tunes of whole-turn closures are integrated beside the next
  // energy's first turn, which is kept there for that energy's closure (see
  // precise_detail::NextTurn): the closures' results are the same.
  precise_detail::NextTurn* next = nullptr;
};

// What the precise closure delivers for one energy; the closed orbit stays in the OrbitSamples.
struct PreciseOrbitResult {
  double Rmn = 0;   // m, time-mean radius over exactly one turn
  double Bmn = 0;   // T, time-mean field over the same turn
  double Rev = 0;   // m, Rmn * (1 + y), y from the start-radius estimate; kNoValue where that
                    // correction does not exist at the orbit (see kMaxRevCorrection and note)
  double F0 = 0;    // Hz, 1 / turn time
  double dReo = 0;  // m, radius after the turn minus start radius of the reported orbit
  double dVr = 0;   // m/rad, the same for the radial velocity
  double Rs = 0, vRs = 0, thetaS = 0;  // m, m/rad, rad: start of the reported orbit
  int32_t iterations = 0;              // turns integrated, over every start tried
  int64_t steps = 0;                   // integration steps of those turns, rejected ones included
  ClosureStatus status = ClosureStatus::Converged;
  Tune nuR, nuZ;      // radial and vertical tunes of the reported orbit
  int32_t level = 0;  // the accuracy level its orbit and tunes need (see kNearestWholeTune)
  OneTurnMatrix radial, vertical;
  // Failed only: no start could be followed for a turn (otherwise a start could, but its closure
  // was pulled off the map, or a seed from a closed orbit left the map at once).
  bool noStart = false;
  // Why the energy did not close, in a few words for a report line; empty when closed.
  std::string reason;
  // A closed orbit's note on its values, empty when there is none: why it has no Rev.
  std::string note;
  // The notice of a closure that did not close (caption "Error", warning icon).
  std::optional<Message> warning;
};

// The orbit that repeats itself after one sector (2 pi / N) for kinetic energy Ek (J), closed from
// start by Newton steps over arcs whose matrices follow the orbit: its start at start.thetaS, none
// where it did not close or the field has fewer than two sectors; the arcs and their steps. In a
// field of N nearly equal sectors it lies close to the closed orbit of a whole turn, and it
// changes with the energy as that does.
struct SectorOrbitResult {
  std::optional<OrbitStart> orbit;
  int32_t arcs = 0;
  int64_t steps = 0;
};
SectorOrbitResult SectorOrbit(const OrbitConstants& constants, const FieldPatches& field, double Ek,
                              const OrbitStart& start);

// Finds the closed orbit of kinetic energy Ek (J) from the starts in their order (see
// PreciseStarts), Newton-correcting (R, vR) from each; a step that would leave the map or does not
// reduce the closure residual is halved. An energy that does not close has its status, reason and
// warning in the result, NotConverged and Singular with the values of the orbit they ended on,
// Failed without values. The samples hold the closed orbit (or the orbit a singular matrix was met
// on).
PreciseOrbitResult FindPreciseOrbit(const OrbitConstants& constants,
                                    const AverageFieldTables& tables, const FieldPatches& field,
                                    double Ek, OrbitSamples& samples,
                                    const PreciseStarts& starts = {});

// How far a closure got, for choosing which of two results of one energy to report: a closed orbit
// with stable radial motion (5), a closed orbit on which the radial motion grows (4), a
// whole-number tune (3), Newton steps that ran out (2), an orbit pulled off the map (1), no start
// (0).
int ClosureRank(ClosureStatus status, bool noStart, bool radialStable);
inline int ClosureRank(const PreciseOrbitResult& r) {
  return ClosureRank(r.status, r.noStart, r.nuR.stable);
}
inline constexpr int kStableClosureRank = 5;

// (R, vR) of a closed orbit's samples (of one precise turn, in increasing azimuth from its start
// to one turn later) at azimuth theta, by four-point interpolation over the periodic orbit.
OrbitStart OrbitAt(const OrbitSamples& samples, double theta);

}  // namespace zuba
