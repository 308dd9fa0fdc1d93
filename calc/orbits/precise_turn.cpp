// One turn of the precise closure: the equations of the orbit and its linearised motion in the
// azimuth, the step control to the tolerance with steps ending on the map's nodes, and the orbit's
// samples on the fixed azimuth grid (see precise_turn.h and precise_orbit.h).
#include "calc/orbits/precise_turn.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "numerics/dormand_prince.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace precise_detail {
namespace {

// Components of the integrated state.
enum : int {
  kR,    // m
  kVr,   // m/rad
  kP11,  // radial one-turn matrix of (R, vR), row-major
  kP12,
  kP21,
  kP22,
  kZ11,  // vertical one-turn matrix of (z, dz/dtau), row-major
  kZ12,
  kZ21,
  kZ22,
  kTau,   // rad
  kIntR,  // m rad, integral of R dtau
  kIntB,  // T rad, integral of B dtau
  kComponents
};
// A turn integrates the orbit alone (R, vR) for its closure residual, with the radial matrix (up to
// kP22) for a Newton step, or everything (the vertical matrix, the time and the integrals of the
// means too) for the values and tunes of the closed orbit: N = kP11, kZ11 or kComponents.
template <std::size_t N>
using State = std::array<double, N>;
template <std::size_t N>
using Step = DenseStep<N>;

// The derivatives with respect to theta of the first N components.
template <std::size_t N>
struct Derivatives {
  // The derivatives read no quadrature (the time and the integrals): their values inside a step
  // are not formed (numerics/dormand_prince.h).
  static constexpr std::size_t kReadComponents = N == kComponents ? std::size_t{kTau} : N;

  explicit Derivatives(const FieldPatches& field, double kOverE, double V)
      : field(field), cursor(field), kOverE(kOverE), V(V) {}

  const FieldPatches& field;
  FieldPatches::PatchCursor cursor;
  double kOverE;    // 1/T: b = kOverE * B
  double V;         // m/rad, the speed
  Outcome refusal;  // why the last evaluation was refused

  // false, with refusal saying why, when the point is refused.
  bool operator()(double theta, const State<N>& y, State<N>& d) {
    const double R = y[kR], vR = y[kVr];
    const double speedLeft = V * V - vR * vR;  // (m/rad)^2, (R w)^2
    if (!(speedLeft > 0) || !(R > 0)) [[unlikely]]
      return Refuse(R, vR);
    double B = 0, dBdR = 0;
    if (!cursor.Evaluate(R, theta, B, dBdR)) [[unlikely]] {
      refusal = field.PatchRefusal(R, theta);
      return false;
    }
    const double root = std::sqrt(speedLeft);  // m/rad, R w
    const double invRoot = 1 / root;
    const double invW = R * invRoot;  // dtau/dtheta
    const double b = kOverE * B;
    d[kR] = vR * invW;
    d[kVr] = root - R * b;
    if constexpr (N > kP11) Radial(R, vR, b, dBdR, invRoot, invW, y, d);
    if constexpr (N == kComponents) {
      d[kTau] = invW;
      d[kIntR] = R * invW;
      d[kIntB] = B * invW;
      Vertical(R, vR, B, dBdR, invRoot, invW, d[kVr], y, d);
    }
    return true;
  }

  // Vertical motion to first order off the median plane of a symmetric field:
  // d2z/dtau2 = (K / E) z (R w dB/dR - (vR / R) dB/dtheta), with u = dz/dtau. The azimuthal
  // derivative of the field is the sharpest thing an orbit meets (the hills' edges); along the
  // orbit it is the total derivative dB/dtheta less dB/dR dR/dtheta, and the total derivative is
  // taken into the variable: (z, u + q z) with q = g B, g = (K / E) vR / (R w). Its equations hold
  // B and dB/dR only, as the radial ones do, so that the steps that keep the orbit keep them too;
  // the matrix returns to (z, u) at the turn's ends (TrackTurnOf), with the same trace.
  void Vertical(double R, double vR, double B, double dBdR, double invRoot, double invW, double dVr,
                const State<N>& y, State<N>& d) const {
    const double g = kOverE * vR * invRoot;                                    // 1/T
    const double dg = kOverE * dVr * (V * V) * (invRoot * invRoot * invRoot);  // 1/(T rad)
    const double q = g * B;
    const double a11 = -q * invW;
    const double a21 = kOverE * R * dBdR + g * vR * invW * dBdR + dg * B - q * q * invW;
    d[kZ11] = a11 * y[kZ11] + invW * y[kZ21];
    d[kZ12] = a11 * y[kZ12] + invW * y[kZ22];
    d[kZ21] = a21 * y[kZ11] - a11 * y[kZ21];
    d[kZ22] = a21 * y[kZ12] - a11 * y[kZ22];
  }

  void Radial(double R, double vR, double b, double dBdR, double invRoot, double invW,
              const State<N>& y, State<N>& d) const {
    // Linearised radial motion, with w = sqrt(V^2 - vR^2) / R: dw/dR = -w / R,
    // dw/dvR = -vR / (R^2 w).
    const double a11 = vR * invRoot;
    const double a12 = invW + a11 * a11 * invW;
    const double a21 = -b - R * kOverE * dBdR;
    const double a22 = -a11;
    d[kP11] = a11 * y[kP11] + a12 * y[kP21];
    d[kP12] = a11 * y[kP12] + a12 * y[kP22];
    d[kP21] = a21 * y[kP11] + a22 * y[kP21];
    d[kP22] = a21 * y[kP12] + a22 * y[kP22];
  }

  // q = g B of the vertical variable at (R, vR, theta) (see Vertical); NaN where the field refuses.
  double VerticalShear(double R, double vR, double theta) {
    double B = 0, dBdR = 0;
    if (!cursor.Evaluate(R, theta, B, dBdR)) return std::numeric_limits<double>::quiet_NaN();
    return kOverE * vR / std::sqrt(V * V - vR * vR) * B;
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

// Two values, one of each of two turns integrated in turn, in the two lanes of one register.
using LanePair = double __attribute__((vector_size(16)));

inline LanePair Both(double a, double b) {
  return LanePair{a, b};
}
inline LanePair SquareRoots(LanePair x) {
#if defined(__SSE2__)
  return _mm_sqrt_pd(x);
#else
  return LanePair{std::sqrt(x[0]), std::sqrt(x[1])};
#endif
}

// The derivatives of two turns integrated in turn (IntegrateInTurn) at once: the arithmetic both
// share (the orbit, the field's patch, the radial matrix) goes in the two lanes of one register,
// each lane with the operations of Derivatives, in the same order, so that each turn gets the
// same slopes bit for bit; a point that either refuses, or that leaves its cell, is evaluated by
// each turn's own Derivatives.
template <std::size_t NA, std::size_t NB>
struct DerivativesInTurn {
  static_assert(NA > kP11 && NB > kP11);
  Derivatives<NA>& a;
  Derivatives<NB>& b;

  void operator()(double ta, const State<NA>& ya, State<NA>& da, double tb, const State<NB>& yb,
                  State<NB>& db, bool& okA, bool& okB) {
    const double RA = ya[kR], vA = ya[kVr], RB = yb[kR], vB = yb[kVr];
    const double leftA = a.V * a.V - vA * vA, leftB = b.V * b.V - vB * vB;
    if (!(leftA > 0 && RA > 0 && leftB > 0 && RB > 0 && a.cursor.Enter(RA, ta) &&
          b.cursor.Enter(RB, tb))) [[unlikely]] {
      okA = a(ta, ya, da);
      okB = b(tb, yb, db);
      return;
    }
    const LanePair R = Both(RA, RB), vR = Both(vA, vB);
    const LanePair root = SquareRoots(Both(leftA, leftB));  // m/rad, R w
    const LanePair invRoot = Both(1, 1) / root;
    const LanePair invW = R * invRoot;  // dtau/dtheta
    // The field and its radial derivative from each point's patch (PatchCursor::Evaluate).
    const double* CA = a.cursor.Patch();
    const double* CB = b.cursor.Patch();
    const LanePair invStepR = Both(a.cursor.InvStepR(), b.cursor.InvStepR());
    const LanePair s = (R - Both(a.cursor.OriginR(), b.cursor.OriginR())) * invStepR;
    const LanePair t = (Both(ta, tb) - Both(a.cursor.OriginTheta(), b.cursor.OriginTheta())) *
                       Both(a.cursor.InvStepTheta(), b.cursor.InvStepTheta());
    auto C = [&](int k) { return Both(CA[k], CB[k]); };
    const LanePair q0 = C(0) + t * (C(1) + t * (C(2) + t * C(3)));
    const LanePair q1 = C(4) + t * (C(5) + t * (C(6) + t * C(7)));
    const LanePair q2 = C(8) + t * (C(9) + t * (C(10) + t * C(11)));
    const LanePair q3 = C(12) + t * (C(13) + t * (C(14) + t * C(15)));
    const LanePair B = q0 + s * (q1 + s * (q2 + s * q3));
    const LanePair dBdR = (q1 + s * (Both(2, 2) * q2 + s * (Both(3, 3) * q3))) * invStepR;
    const LanePair kOverE = Both(a.kOverE, b.kOverE);
    const LanePair bb = kOverE * B;
    const LanePair dR = vR * invW;
    const LanePair dVr = root - R * bb;
    // The radial matrix (Derivatives::Radial).
    const LanePair a11 = vR * invRoot;
    const LanePair a12 = invW + a11 * a11 * invW;
    const LanePair a21 = -bb - R * kOverE * dBdR;
    const LanePair a22 = -a11;
    const LanePair P11 = Both(ya[kP11], yb[kP11]), P12 = Both(ya[kP12], yb[kP12]);
    const LanePair P21 = Both(ya[kP21], yb[kP21]), P22 = Both(ya[kP22], yb[kP22]);
    const LanePair d11 = a11 * P11 + a12 * P21, d12 = a11 * P12 + a12 * P22;
    const LanePair d21 = a21 * P11 + a22 * P21, d22 = a21 * P12 + a22 * P22;
    for (const auto& [k, lanes] :
         {std::pair{kR, dR}, {kVr, dVr}, {kP11, d11}, {kP12, d12}, {kP21, d21}, {kP22, d22}}) {
      da[static_cast<std::size_t>(k)] = lanes[0];
      db[static_cast<std::size_t>(k)] = lanes[1];
    }
    Rest(a, R[0], vR[0], B[0], dBdR[0], invRoot[0], invW[0], ya, da);
    Rest(b, R[1], vR[1], B[1], dBdR[1], invRoot[1], invW[1], yb, db);
    okA = okB = true;
  }

  // The time, the integrals and the vertical matrix of a turn that integrates them.
  template <std::size_t N>
  static void Rest(Derivatives<N>& f, double R, double vR, double B, double dBdR, double invRoot,
                   double invW, const State<N>& y, State<N>& d) {
    if constexpr (N == kComponents) {
      d[kTau] = invW;
      d[kIntR] = R * invW;
      d[kIntB] = B * invW;
      f.Vertical(R, vR, B, dBdR, invRoot, invW, d[kVr], y, d);
    }
  }
};

// How the one-turn matrices count in the step control of a turn that integrates them (see
// TrackTurn): an error estimate of a matrix element counts in units of this scale (at least the
// element's own size), the orbit's in units of its own size. The orbit's radius is about a hundred
// times its scalloping, against which its error tells; the matrices oscillate by their whole size:
// a hundred makes them as accurate as the orbit.
constexpr double kMatrixScale = 100;
// At levels 1 and 2 (kNearestWholeTune, precise_orbit.h) the matrices count in units of 1, and at
// level 2 every component to this fraction of the tolerance.
constexpr double kNearTuneTolerance = 0.1;

// Counts a sign change of value against the last non-zero sign seen.
void CountSignChange(double value, int& lastSign, int32_t& changes) {
  const int sign = value > 0 ? 1 : value < 0 ? -1 : 0;
  if (sign == 0) return;
  if (lastSign != 0 && sign != lastSign) ++changes;
  lastSign = sign;
}

// The error of a step relative to the size of each component: the radius and its integral in
// units of the start radius, vR in units of the speed, the elapsed tau in radians, the field's
// integral in units of E / K (the field that bends the ion on a circle of radius R_inf), the
// one-turn matrices in units of 1; each at least the component's own size.
// Every turn counts every component it integrates.
template <std::size_t N>
struct TurnErrorNorm {
  double tolerance = 0;
  std::array<double, N> scale{};

  double operator()(const State<N>& y0, const State<N>& y1, const State<N>& error) const {
    // The ratios first, then the largest: the divisions of the first loop go two at a time.
    std::array<double, N> ratio;
    for (std::size_t i = 0; i < N; ++i) {
      const double size = std::max(scale[i], std::max(std::fabs(y0[i]), std::fabs(y1[i])));
      ratio[i] = std::fabs(error[i]) / size;
    }
    double worst = 0;
    for (std::size_t i = 0; i < N; ++i) worst = std::max(worst, ratio[i]);
    return worst / tolerance;
  }
};

// The nodes of the map that no step crosses. The azimuth nodes, where the field's azimuthal spline
// changes its cubic, are known in advance (Next); a step whose orbit meets a radius node, where the
// radial spline changes its cubic, is made again to end where it meets it (CutAt, found on the
// step's continuous extension of R). Where the radius nodes count, Next also foresees the next
// crossing from the end of the last step (Follow), so that the step ends there at once: a crossing
// foreseen a little short or long of the node lies within a hundredth of a step of its end, which
// CutAt lets pass.
class NodeBreaks {
 public:
  NodeBreaks(const FieldPatches& field, bool radiusNodes)
      : azimuthNodes_(field),
        radii_(field.Radii()),
        lastCell_(static_cast<std::ptrdiff_t>(radii_.size()) - 2),
        guard_(1e-9 * kTwoPi / std::max(field.AzimuthNodes(), 1)),
        nearest_(1e-3 * kTwoPi / std::max(field.AzimuthNodes(), 1)),
        radiusNodes_(radiusNodes) {}

  double Next(double t) {
    const double knot = azimuthNodes_.Next(t, guard_);
    if (!radiusNodes_ || !(std::fabs(t - followedEnd_) <= guard_)) return knot;
    return std::min(knot, t + Foreseen(knot - t));
  }

  // Keeps the end of an accepted step: R, its slope and its curvature there (the curvature from the
  // change of the slope over the step).
  template <std::size_t N>
  void Follow(const Step<N>& step) {
    followedEnd_ = step.t0 + step.h;
    R_ = (*step.y1)[kR];
    slope_ = (*step.k7)[kR];
    curvature_ = ((*step.k7)[kR] - (*step.k1)[kR]) / step.h;
  }

  template <std::size_t N>
  double CutAt(const Step<N>& step) {
    Enter((*step.y0)[kR]);
    const double R1 = (*step.y1)[kR];
    const std::array<double, 5> c = step.Coefficients(kR);
    double before = 0, previous = (*step.y0)[kR];
    for (const double s : {0.25, 0.5, 0.75, 1.0}) {
      const double R = s == 1.0 ? R1 : DenseValue(c, s);
      if (!(R >= low_ && R < high_)) {
        const double node = R >= high_ ? high_ : low_;
        return step.t0 + Crossing(c, node, before, previous - node, s, R - node) * step.h;
      }
      before = s;
      previous = R;
    }
    return HUGE_VAL;
  }

 private:
  // Keeps the cell of R (by the rule of the field's radial cells: the outer cells open outwards)
  // with its bounds.
  void Enter(double R) {
    if (R >= low_ && R < high_) return;
    const std::ptrdiff_t c = std::clamp<std::ptrdiff_t>(
        std::upper_bound(radii_.begin(), radii_.end(), R) - radii_.begin() - 1, 0, lastCell_);
    const auto at = static_cast<size_t>(c);
    low_ = c == 0 ? -HUGE_VAL : radii_[at];
    high_ = c == lastCell_ ? HUGE_VAL : radii_[at + 1];
  }

  // Where in (a, b) the continuous extension c meets the node, from its distances fa and fb of
  // opposite signs at a and b (the Illinois variant of the false position): to 1e-7 of the step.
  static double Crossing(const std::array<double, 5>& c, double node, double a, double fa, double b,
                         double fb) {
    double m = b;
    int32_t side = 0;
    for (int32_t k = 0; k < 40 && b - a > 1e-7; ++k) {
      m = std::clamp((a * fb - b * fa) / (fb - fa), a, b);
      const double fm = DenseValue(c, m) - node;
      if (fm == 0) return m;
      if ((fm > 0) == (fb > 0)) {
        b = m;
        fb = fm;
        if (side == -1) fa /= 2;
        side = -1;
      } else {
        a = m;
        fa = fm;
        if (side == 1) fb /= 2;
        side = 1;
      }
      if (std::fabs(fm) <= 1e-15 * std::fabs(node)) return m;
    }
    return m;
  }

  // How far (rad) from the end of the last step R meets a bound of its cell by the parabola of its
  // slope and curvature there: HUGE_VAL where it does not, or nearer than a thousandth of the
  // azimuth nodes' spacing (R is then on the node, within the parabola's error). A node the
  // parabola cannot reach within twice the horizon (rad, the distance to the next azimuth node) is
  // passed over: its crossing would lie beyond that node.
  double Foreseen(double horizon) {
    Enter(R_);
    double nearest = HUGE_VAL;
    for (const double node : {low_, high_}) {
      if (!std::isfinite(node)) continue;
      const double a = 0.5 * curvature_, b = slope_, c = R_ - node;
      if (std::fabs(c) > 2 * horizon * (std::fabs(b) + std::fabs(a) * horizon)) continue;
      // The roots of a s^2 + b s + c, the one of the smaller size first (no cancellation).
      const double discriminant = b * b - 4 * a * c;
      if (!(discriminant >= 0)) continue;
      const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
      for (const double root : {q != 0 ? c / q : HUGE_VAL, a != 0 ? q / a : HUGE_VAL})
        if (root >= nearest_ && root < nearest) nearest = root;
    }
    return nearest;
  }

  FieldPatches::AzimuthNodeWalk azimuthNodes_;
  std::span<const double> radii_;
  std::ptrdiff_t lastCell_;
  double guard_;    // rad: a node this close to t is t itself
  double nearest_;  // rad: a crossing foreseen nearer than this is where the step starts
  bool radiusNodes_;
  double low_ = 1, high_ = 0;       // m, the radial cell of the last step's start (none at first)
  double followedEnd_ = -HUGE_VAL;  // rad, the end of the last accepted step
  double R_ = 0, slope_ = 0, curvature_ = 0;  // m, m/rad, m/rad^2 there
};

// Writes the path of a turn on its sample azimuths from the accepted steps: a grid azimuth where a
// step starts takes the step's start as integrated, one inside a step the step's continuous
// extension. Grid azimuths closer than a quarter of the spacing to the turn's start or end are
// left out, so that the samples are never much closer than the grid's spacing.
class GridSampler {
 public:
  GridSampler(const FieldPatches& field, double thetaS, double thetaEnd, TurnPath& path)
      : nodes_(field),
        path_(path),
        knot_(kTwoPi / std::max(field.AzimuthNodes(), 1)),
        spacing_(PreciseSampleSpacing(field)),
        guard_(1e-9 * knot_),
        end_(thetaEnd - 0.25 * spacing_) {
    next_ = Next(thetaS + 0.25 * spacing_);
  }

  template <std::size_t N>
  void operator()(const Step<N>& step) {
    const double t1 = step.t0 + step.h;
    while (next_ < t1 - guard_ && next_ < end_) {
      if (next_ <= step.t0 + guard_) {
        path_.Add(step.t0, (*step.y0)[kR], (*step.y0)[kVr], (*step.y0)[kTau]);
      } else {
        const double s = (next_ - step.t0) / step.h;
        path_.Add(next_, DenseValue(step.Coefficients(kR), s),
                  DenseValue(step.Coefficients(kVr), s), DenseValue(step.Coefficients(kTau), s));
      }
      next_ = Next(next_);
    }
  }

 private:
  // The first grid azimuth beyond after: the map's nodes and the even divisions between them.
  double Next(double after) {
    const double high = nodes_.Next(after, guard_);
    const double low = high - knot_;
    const int32_t divisions = static_cast<int32_t>(std::lround(knot_ / spacing_));
    for (int32_t m = 1; m < divisions; ++m)
      if (const double at = low + m * spacing_; at > after + guard_) return at;
    return high;
  }

  FieldPatches::AzimuthNodeWalk nodes_;
  TurnPath& path_;
  double knot_, spacing_, guard_;  // rad
  double end_;                     // rad, no grid azimuth from here on
  double next_ = 0;                // rad, the next grid azimuth to sample
};

// The norm of the step control for a turn from radius Rs at speed V, with the one-turn matrices
// in units of matrixScale, every component to factor times the tolerance.
template <std::size_t N>
TurnErrorNorm<N> NormOfTurn(const OrbitConstants& constants, double E, double V, double Rs,
                            double matrixScale, double factor) {
  TurnErrorNorm<N> norm;
  norm.tolerance = constants.tolerance * factor;
  norm.scale.fill(matrixScale);
  norm.scale[kR] = std::fabs(Rs);
  norm.scale[kVr] = V;
  if constexpr (N == kComponents) {
    norm.scale[kTau] = 1;
    norm.scale[kIntR] = std::fabs(Rs);
    norm.scale[kIntB] = E / std::fabs(constants.K);
  }
  return norm;
}

// One turn with the first N components, the matrices in units of matrixScale, made step by step
// (Running, Advance, or through run() beside another turn) and then ended (Finish), as TrackTurn
// describes. Steps end on the radius nodes only in the turn with the tunes: the matrices' equations
// hold dB/dR, whose slope the radial spline changes there. A Newton turn's matrix only needs a few
// digits, and its orbit's step control copes with the change of the field's third derivative by
// itself (ending its steps there too made the ring's energy loop 30 % slower).
template <std::size_t N>
class TurnIntegration {
 public:
  TurnIntegration(const OrbitConstants& constants, const FieldPatches& field,
                  const TurnOrder& order, TurnPath& path, double matrixScale, double factor,
                  double arc)
      : constants_(constants),
        field_(field),
        order_(order),
        thetaEnd_(order.thetaS + arc),
        path_(StartPath(path, order)),
        radiusCuts_(N == kComponents),
        f_(field, constants.K / order.E, order.V),
        norm_(NormOfTurn<N>(constants, order.E, order.V, order.Rs, matrixScale, factor)),
        control_(Control(field)),
        nodes_(field, radiusCuts_),
        sample_(field, order.thetaS, thetaEnd_, path),
        Rlow_(order.Rs),
        Rhigh_(order.Rs),
        onStep_{this},
        breaks_{&nodes_},
        cuts_{this},
        run_(f_, order.thetaS, thetaEnd_, Start(order), control_, norm_, onStep_, breaks_, cuts_) {}
  TurnIntegration(const TurnIntegration&) = delete;
  TurnIntegration& operator=(const TurnIntegration&) = delete;

  auto& run() { return run_; }

  // The turn's ends, integrals and matrices (what it integrates of them) into turn, its steps added
  // to steps; the field's refusal or the step control's failure where it ended early.
  Outcome Finish(PreciseTurn& turn, int64_t& steps) {
    const AdaptiveResult<N>& end = run_.Result();
    steps += end.accepted + end.rejected;
    switch (end.end) {
      case AdaptiveEnd::Reached:
        break;
      case AdaptiveEnd::Refused:
        return f_.refusal;
      case AdaptiveEnd::Underflow:
      case AdaptiveEnd::StepLimit:
        // Steps that crept up to the map's edge after a refused point: the edge is the reason.
        if (!f_.refusal) return f_.refusal;
        return StepControlFailure(end.end, constants_.tolerance, end.t, end.y[kR]);
    }
    const State<N>& last = end.y;
    // What a turn did not integrate is NaN: no values, no tune (TuneOfMatrix of NaN).
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    turn.Rend = last[kR];
    turn.vRend = last[kVr];
    turn.tauTurn = turn.integralR = turn.integralB = kNone;
    turn.radial = {kNone, kNone, kNone, kNone, 0};
    turn.vertical = turn.radial;
    if constexpr (N > kP11)
      turn.radial = {last[kP11], last[kP12], last[kP21], last[kP22], radialChanges_};
    if constexpr (N == kComponents) {
      path_.Add(thetaEnd_, last[kR], last[kVr], last[kTau]);
      turn.tauTurn = constants_.T0 + last[kTau];
      turn.integralR = last[kIntR];
      turn.integralB = last[kIntB];
      // From (z, u + q z) back to (z, u) at both ends: M = T(-q_end) M~ T(q_start).
      const double qs = f_.VerticalShear(order_.Rs, order_.vRs, order_.thetaS);
      const double qe = f_.VerticalShear(last[kR], last[kVr], thetaEnd_);
      const double m11 = last[kZ11] + last[kZ12] * qs, m12 = last[kZ12];
      const double m21 = last[kZ21] + last[kZ22] * qs, m22 = last[kZ22];
      turn.vertical = {m11, m12, m21 - qe * m11, m22 - qe * m12, verticalChanges_};
    }
    turn.steps = end.accepted + end.rejected;
    if constexpr (N == kComponents) {
      // Level 1 where the orbit reaches the map's first or last radial interval (precise_orbit.h).
      const std::span<const double> radii = field_.Radii();
      turn.edgeCells = radii.size() >= 3 && (Rlow_ < radii[1] || Rhigh_ >= radii[radii.size() - 2]);
    }
    return {};
  }

 private:
  // The turns that do not integrate everything leave the path with the start alone.
  static TurnPath& StartPath(TurnPath& path, const TurnOrder& order) {
    path.Clear();
    path.Add(order.thetaS, order.Rs, order.vRs, 0);
    return path;
  }
  static State<N> Start(const TurnOrder& order) {
    State<N> y{};
    y[kR] = order.Rs;
    y[kVr] = order.vRs;
    if constexpr (N > kP11) y[kP11] = y[kP22] = 1;
    if constexpr (N == kComponents) y[kZ11] = y[kZ22] = 1;
    return y;
  }
  static StepControl Control(const FieldPatches& field) {
    StepControl control;
    control.initialStep = kPi / std::max(field.AzimuthNodes(), 1);  // half the node spacing
    control.smallestStep = kSmallestPreciseStep;
    control.maxSteps = kMaxPreciseTurnSteps;
    return control;
  }

  void OnStep(const Step<N>& step) {
    if (radiusCuts_) nodes_.Follow(step);
    if constexpr (N > kP11) CountSignChange((*step.y1)[kP12], radialSign_, radialChanges_);
    if constexpr (N == kComponents) {
      Rlow_ = std::min(Rlow_, (*step.y1)[kR]);
      Rhigh_ = std::max(Rhigh_, (*step.y1)[kR]);
      sample_(step);
      CountSignChange((*step.y1)[kZ12], verticalSign_, verticalChanges_);
    }
  }
  struct OnStepCall {
    TurnIntegration* self;
    void operator()(const Step<N>& step) const { self->OnStep(step); }
  };
  struct BreakCall {
    NodeBreaks* nodes;
    double operator()(double t) const { return nodes->Next(t); }
  };
  struct CutCall {
    TurnIntegration* self;
    double operator()(const Step<N>& step) const {
      return self->radiusCuts_ ? self->nodes_.CutAt(step) : HUGE_VAL;
    }
  };

  const OrbitConstants& constants_;
  const FieldPatches& field_;
  TurnOrder order_;
  double thetaEnd_;  // rad
  TurnPath& path_;
  bool radiusCuts_;
  Derivatives<N> f_;
  TurnErrorNorm<N> norm_;
  StepControl control_;
  NodeBreaks nodes_;
  GridSampler sample_;
  int radialSign_ = 0, verticalSign_ = 0;
  int32_t radialChanges_ = 0, verticalChanges_ = 0;
  double Rlow_, Rhigh_;  // m, the orbit's range over the steps' ends
  OnStepCall onStep_;
  BreakCall breaks_;
  CutCall cuts_;
  DormandPrinceRun<N, Derivatives<N>, TurnErrorNorm<N>, OnStepCall, BreakCall, CutCall> run_;
};

template <std::size_t N>
Outcome TrackTurnOf(const OrbitConstants& constants, const FieldPatches& field,
                    const TurnOrder& order, TurnPath& path, PreciseTurn& turn, int64_t& steps,
                    double matrixScale, double factor, double arc) {
  TurnIntegration<N> integration(constants, field, order, path, matrixScale, factor, arc);
  while (integration.run().Running()) integration.run().Advance();
  return integration.Finish(turn, steps);
}

// The matrices' scale and the tolerance's factor of a turn with the tunes at level.
double LevelScale(int32_t level) {
  return level == 0 ? kMatrixScale : 1.0;
}
double LevelFactor(int32_t level) {
  return level == 2 ? kNearTuneTolerance : 1.0;
}

// After a turn with the tunes integrated at level: its turn.level, and the turn again at each
// higher level it turns out to need (its range of radii, its tunes: precise_orbit.h).
Outcome Relevel(const OrbitConstants& constants, const FieldPatches& field, const TurnOrder& order,
                TurnPath& path, PreciseTurn& turn, int64_t& steps, double arc, int32_t level) {
  for (;;) {
    const int32_t need = std::max(
        {turn.edgeCells ? 1 : 0, NearWholeTune(turn.radial), NearWholeTune(turn.vertical)});
    turn.level = need;
    if (need <= level) return {};
    level = need;
    if (Outcome o = TrackTurnOf<kComponents>(constants, field, order, path, turn, steps,
                                             LevelScale(level), LevelFactor(level), arc);
        !o)
      return o;
  }
}

}  // namespace

Outcome TrackTurn(const OrbitConstants& constants, const FieldPatches& field, double E, double V,
                  double Rs, double vRs, double thetaS, TurnPath& path, PreciseTurn& turn,
                  int64_t& steps, TurnAccuracy accuracy, double arc, int32_t tuneLevel) {
  const TurnOrder order{E, V, Rs, vRs, thetaS};
  switch (accuracy) {
    case TurnAccuracy::Path:
      return TrackTurnOf<kP11>(constants, field, order, path, turn, steps, HUGE_VAL, 1.0, arc);
    case TurnAccuracy::Orbit:
      return TrackTurnOf<kZ11>(constants, field, order, path, turn, steps, kMatrixScale, 1.0, arc);
    case TurnAccuracy::Full:
      break;
  }
  // From the level expected on (or more accurate), until the turn needs no higher level than it
  // was integrated at.
  const int32_t level = std::clamp(tuneLevel, 0, 2);
  if (Outcome o = TrackTurnOf<kComponents>(constants, field, order, path, turn, steps,
                                           LevelScale(level), LevelFactor(level), arc);
      !o)
    return o;
  return Relevel(constants, field, order, path, turn, steps, arc, level);
}

void TrackTurnsInTurn(const OrbitConstants& constants, const FieldPatches& field,
                      const TurnOrder& full, int32_t tuneLevel, TurnResult& fullResult,
                      const TurnOrder& first, TurnResult& firstResult) {
  const int32_t level = std::clamp(tuneLevel, 0, 2);
  {
    TurnIntegration<kComponents> a(constants, field, full, fullResult.path, LevelScale(level),
                                   LevelFactor(level), kTwoPi);
    TurnIntegration<kZ11> b(constants, field, first, firstResult.path, kMatrixScale, 1.0, kTwoPi);
    IntegrateInTurn(a.run(), b.run(),
                    DerivativesInTurn<kComponents, kZ11>{a.run().system(), b.run().system()});
    fullResult.outcome = a.Finish(fullResult.turn, fullResult.steps);
    firstResult.outcome = b.Finish(firstResult.turn, firstResult.steps);
  }
  if (fullResult.outcome)
    fullResult.outcome = Relevel(constants, field, full, fullResult.path, fullResult.turn,
                                 fullResult.steps, kTwoPi, level);
}

void SampleTurn(const TurnPath& path, const FieldPatches& field, double V, double T0,
                OrbitSamples& samples) {
  samples.Clear();
  samples.Reserve(path.theta.size());
  FieldPatches::PatchCursor cursor(field);  // the field as the integration met it
  for (size_t k = 0; k < path.theta.size(); ++k) {
    const double R = path.R[k], vR = path.vR[k], theta = path.theta[k];
    const double w = std::sqrt(std::max(V * V - vR * vR, 0.0)) / R;
    double B = 0, dBdR = 0;
    if (!cursor.Evaluate(R, theta, B, dBdR)) B = 0;
    samples.Append(R, vR, theta, w, T0 + path.tau[k], B);
  }
}

}  // namespace precise_detail

int32_t NearWholeTune(const OneTurnMatrix& m) {
  const double halfTrace = std::fabs(m.m11 + m.m22) / 2;
  return halfTrace >= kNearestWholeTune && halfTrace <= 2 - kNearestWholeTune ? 2 : 0;
}

double PreciseSampleSpacing(const FieldPatches& field) {
  const double knot = kTwoPi / std::max(field.AzimuthNodes(), 1);  // rad
  const double divisions = std::max(1.0, std::ceil(knot / kMaxPreciseSampleSpacing * (1 - 1e-9)));
  return knot / divisions;
}

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
  precise_detail::TurnPath path;
  int64_t steps = 0;
  if (Outcome o = precise_detail::TrackTurn(constants, field, E, V, Rs, vRs, thetaS, path, turn,
                                            steps, precise_detail::TurnAccuracy::Full, arc);
      !o)
    return o;
  precise_detail::SampleTurn(path, field, V, constants.T0, samples);
  return {};
}

}  // namespace zuba
