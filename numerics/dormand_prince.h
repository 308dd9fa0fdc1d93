// The embedded Runge-Kutta pair of Dormand and Prince, order 5 with an error estimate of order 4,
// with step control and the continuous extension of order 4 between the ends of each step.
//
// A system is a callable, as for RungeKutta4 (numerics/runge_kutta.h),
//   bool system(double t, const std::array<double, N>& y, std::array<double, N>& dydt)
// that refuses a point by returning false. The pair needs six evaluations per step (its seventh
// stage, at the step's end, is the first of the next step). A system whose derivatives read only
// the first M < N components (the others are quadratures, such as a time or an integral along the
// solution) says so with a member static constexpr std::size_t kReadComponents = M: the other
// components' values at the stages inside a step are then not formed.
//
// The caller measures the error: norm(y0, y1, e) returns the size of the error estimate e of the
// step from y0 to y1 in units of what the caller accepts, so that a step is accepted when the norm
// is at most 1. The step then grows or shrinks by (1 / norm)^(1/5) with the usual safety factor,
// within a factor 0.2 .. 10 per step, and does not grow right after a rejected step.
//
// A refused stage point is not yet a refusal of the solution: the step is shortened fourfold and
// tried again, so that a trajectory passing close to the edge of where the system is defined is
// followed; only a step shorter than the smallest allowed that still meets a refused point ends the
// integration as refused. A step that must shrink below the smallest allowed to meet the error
// bound ends it as underflow, and so does a count of steps beyond the limit: the integration
// always ends.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "numerics/runge_kutta.h"

namespace zuba {

// How an adaptive integration ended.
enum class AdaptiveEnd {
  Reached,    // t reached the end of the interval
  Refused,    // the system refused a point even with the shortest step
  Underflow,  // the error bound needs a step shorter than the shortest allowed
  StepLimit,  // more steps (accepted and rejected) than allowed
};

struct StepControl {
  double initialStep = 0;   // first step tried (its magnitude; 0: a hundredth of the interval)
  double largestStep = 0;   // magnitude; 0: the whole interval
  double smallestStep = 0;  // magnitude; never below 32 units in the last place of t0 or t1
  int64_t maxSteps = 1'000'000;
};

// One accepted step: its ends and stages, from which every component between t0 and t0 + h
// follows by the continuous extension of order 4.
template <std::size_t N>
struct DenseStep {
  using State = std::array<double, N>;
  double t0 = 0, h = 0;
  const State* y0 = nullptr;
  const State* y1 = nullptr;
  const State* k1 = nullptr;  // slopes of the stages 1, 3, 4, 5, 6, 7
  const State* k3 = nullptr;
  const State* k4 = nullptr;
  const State* k5 = nullptr;
  const State* k6 = nullptr;
  const State* k7 = nullptr;

  // The five coefficients of component i: y(t0 + s h) = c0 + s (c1 + (1 - s) (c2 + s (c3 + (1 -
  // s) c4))) for s in [0, 1].
  std::array<double, 5> Coefficients(std::size_t i) const {
    constexpr double d1 = -12715105075.0 / 11282082432.0, d3 = 87487479700.0 / 32700410799.0,
                     d4 = -10690763975.0 / 1880347072.0, d5 = 701980252875.0 / 199316789632.0,
                     d6 = -1453857185.0 / 822651844.0, d7 = 69997945.0 / 29380423.0;
    const double difference = (*y1)[i] - (*y0)[i];
    const double start = h * (*k1)[i] - difference;
    return {(*y0)[i], difference, start, difference - h * (*k7)[i] - start,
            h * (d1 * (*k1)[i] + d3 * (*k3)[i] + d4 * (*k4)[i] + d5 * (*k5)[i] + d6 * (*k6)[i] +
                 d7 * (*k7)[i])};
  }
};

// The value of a continuous extension with coefficients c at s in [0, 1] of its step.
inline double DenseValue(const std::array<double, 5>& c, double s) {
  const double r = 1 - s;
  return c[0] + s * (c[1] + r * (c[2] + s * (c[3] + r * c[4])));
}

template <std::size_t N>
struct AdaptiveResult {
  AdaptiveEnd end = AdaptiveEnd::Reached;
  double t = 0;               // where it ended: t1, or the start of the step that failed
  std::array<double, N> y{};  // the solution at t
  double lastStep = 0;        // the last step accepted
  int64_t accepted = 0, rejected = 0;
};

// No breakpoints: nextBreak(t) for an integration whose steps may end anywhere.
struct NoBreaks {
  double operator()(double /*t*/) const { return HUGE_VAL; }
};
// No breakpoints that depend on the solution: cutAt(step) for an integration without them.
template <std::size_t N>
struct NoCuts {
  double operator()(const DenseStep<N>& /*step*/) const { return HUGE_VAL; }
};

namespace dormand_prince_detail {

// The slopes of one step's stages (k2 only inside the step).
template <std::size_t N>
struct Stages {
  std::array<double, N> k1, k2, k3, k4, k5, k6, k7;
};

// The components whose values the system's derivatives read (see IntegrateDormandPrince).
template <class System, std::size_t N>
constexpr std::size_t ReadComponents() {
  if constexpr (requires { System::kReadComponents; })
    return System::kReadComponents;
  else
    return N;
}

// The point of stage S (2 .. 7) of the step of length h from (t, y) from the slopes before it
// (the seventh's is the solution at the step's end, next): its first M components, all N at the
// seventh.
template <int S, std::size_t M, std::size_t N>
void StagePoint(double h, const std::array<double, N>& y, const Stages<N>& k,
                std::array<double, N>& point, std::array<double, N>& next) {
  static_assert(M >= 1 && M <= N);
  constexpr double a21 = 1.0 / 5;
  constexpr double a31 = 3.0 / 40, a32 = 9.0 / 40;
  constexpr double a41 = 44.0 / 45, a42 = -56.0 / 15, a43 = 32.0 / 9;
  constexpr double a51 = 19372.0 / 6561, a52 = -25360.0 / 2187, a53 = 64448.0 / 6561,
                   a54 = -212.0 / 729;
  constexpr double a61 = 9017.0 / 3168, a62 = -355.0 / 33, a63 = 46732.0 / 5247, a64 = 49.0 / 176,
                   a65 = -5103.0 / 18656;
  constexpr double a71 = 35.0 / 384, a73 = 500.0 / 1113, a74 = 125.0 / 192, a75 = -2187.0 / 6784,
                   a76 = 11.0 / 84;
  if constexpr (S == 2) {
    for (std::size_t i = 0; i < M; ++i) point[i] = y[i] + h * (a21 * k.k1[i]);
  } else if constexpr (S == 3) {
    for (std::size_t i = 0; i < M; ++i) point[i] = y[i] + h * (a31 * k.k1[i] + a32 * k.k2[i]);
  } else if constexpr (S == 4) {
    for (std::size_t i = 0; i < M; ++i)
      point[i] = y[i] + h * (a41 * k.k1[i] + a42 * k.k2[i] + a43 * k.k3[i]);
  } else if constexpr (S == 5) {
    for (std::size_t i = 0; i < M; ++i)
      point[i] = y[i] + h * (a51 * k.k1[i] + a52 * k.k2[i] + a53 * k.k3[i] + a54 * k.k4[i]);
  } else if constexpr (S == 6) {
    for (std::size_t i = 0; i < M; ++i)
      point[i] = y[i] + h * (a61 * k.k1[i] + a62 * k.k2[i] + a63 * k.k3[i] + a64 * k.k4[i] +
                             a65 * k.k5[i]);
  } else {
    static_assert(S == 7);
    for (std::size_t i = 0; i < N; ++i)
      next[i] = y[i] +
                h * (a71 * k.k1[i] + a73 * k.k3[i] + a74 * k.k4[i] + a75 * k.k5[i] + a76 * k.k6[i]);
  }
}

// Where stage S of the step of length h from t lies (end: t + h, or the breakpoint it was cut to,
// exactly), and its slope among the stages.
template <int S>
double StageTime(double t, double h, double end) {
  constexpr double c2 = 1.0 / 5, c3 = 3.0 / 10, c4 = 4.0 / 5, c5 = 8.0 / 9;
  if constexpr (S == 2) return t + c2 * h;
  if constexpr (S == 3) return t + c3 * h;
  if constexpr (S == 4) return t + c4 * h;
  if constexpr (S == 5) return t + c5 * h;
  return end;
}
template <int S, std::size_t N>
std::array<double, N>& StageSlope(Stages<N>& k) {
  if constexpr (S == 2) return k.k2;
  if constexpr (S == 3) return k.k3;
  if constexpr (S == 4) return k.k4;
  if constexpr (S == 5) return k.k5;
  if constexpr (S == 6) return k.k6;
  return k.k7;
}

// The error estimate of a step of length h from its stages.
template <std::size_t N>
void StepError(double h, const Stages<N>& k, std::array<double, N>& error) {
  constexpr double e1 = 71.0 / 57600, e3 = -71.0 / 16695, e4 = 71.0 / 1920, e5 = -17253.0 / 339200,
                   e6 = 22.0 / 525, e7 = -1.0 / 40;
  for (std::size_t i = 0; i < N; ++i)
    error[i] = h * (e1 * k.k1[i] + e3 * k.k3[i] + e4 * k.k4[i] + e5 * k.k5[i] + e6 * k.k6[i] +
                    e7 * k.k7[i]);
}

// size^(1/5) / 0.9 as two tables give it: of 2^(e/5) for the binary exponent e of size (from
// -kExponents to kExponents, a size beyond taken at the end), and of m^(1/5) / 0.9 for its mantissa
// m in [1, 2) at the middles of 256 intervals.
inline constexpr int kExponents = 40;
struct FifthRootTables {
  std::array<double, 2 * kExponents + 1> exponent;
  std::array<double, 256> mantissa;
};
inline const FifthRootTables kFifthRoot = [] {
  FifthRootTables t;
  for (int e = -kExponents; e <= kExponents; ++e)
    t.exponent[static_cast<std::size_t>(e + kExponents)] = std::exp2(e / 5.0);
  for (std::size_t k = 0; k < t.mantissa.size(); ++k)
    t.mantissa[k] = std::pow(1 + (k + 0.5) / 256, 0.2) / 0.9;
  return t;
}();

// The step control's factor size^(1/5) / 0.9 (the step is divided by it) for a positive, finite
// norm size, within 4e-4 of it: ample for a step length, and a step's pow less.
inline double StepFactor(double size) {
  const auto bits = std::bit_cast<uint64_t>(size);
  const int e = std::clamp(static_cast<int>((bits >> 52) & 0x7FF) - 1023, -kExponents, kExponents);
  return kFifthRoot.exponent[static_cast<std::size_t>(e + kExponents)] *
         kFifthRoot.mantissa[(bits >> 44) & 0xFF];
}

// The step after an accepted one of length h and error norm size: grown or shrunk by the control's
// factor within 0.2 .. 10, not grown right after a rejected step. A step cut short at a breakpoint
// says little about the next one: that continues with the step wanted before the cut where its
// error allows it.
inline double NextStep(double h, double size, bool rejectedBefore, bool cut, double wanted) {
  constexpr double kMostShrink = 0.2, kMostGrowth = 10.0;
  const double factor =
      std::clamp(StepFactor(std::max(size, 1e-5)), 1 / kMostGrowth, 1 / kMostShrink);
  double next = h / factor;
  if (rejectedBefore) next = std::min(next, h);
  if (cut) next = std::max(next, std::min(wanted, wanted / factor));
  return next;
}

}  // namespace dormand_prince_detail

// Integrates y' = f(t, y) from (t0, y0) to t1 > t0, one step at a time (Advance, or its parts
// Begin, Stage<2> .. Stage<7> and Conclude). onStep(step) is called after every accepted step, in
// order; the last step ends exactly at t1. Where the system's derivatives are not smooth (on the
// nodes of a spline), no step crosses:
//   - nextBreak(t) gives the first such point after t known in advance: a step that would cross it
//     is cut to end on it;
//   - cutAt(step) looks at a step that met the error bound and returns where inside it the
//     solution meets one (found from the step's continuous extension), or anything outside the step
//     where it meets none: the step is then made again, cut to end there.
// A step cut short is followed by one of the length wanted before the cut. The callables are
// held by reference. Two integrations whose steps are made stage by stage in turn
// (IntegrateInTurn) give the same results as each made alone, bit for bit: each stage waits for
// the one before it, and the other integration's stage fills that wait.
template <std::size_t N, class System, class Norm, class OnStep, class Breaks = NoBreaks,
          class Cuts = NoCuts<N>>
class DormandPrinceRun {
 public:
  using State = std::array<double, N>;

  DormandPrinceRun(System& f, double t0, double t1, const State& y0, const StepControl& control,
                   Norm& norm, OnStep& onStep, Breaks& nextBreak, Cuts& cutAt)
      : f_(f),
        norm_(norm),
        onStep_(onStep),
        nextBreak_(nextBreak),
        cutAt_(cutAt),
        control_(control),
        t1_(t1),
        out_{AdaptiveEnd::Reached, t0, y0},
        t_(t0) {
    const double interval = t1 - t0;
    if (!(interval > 0)) return;
    largest_ = control.largestStep > 0 ? control.largestStep : interval;
    h_ = std::min(control.initialStep > 0 ? control.initialStep : interval / 100, largest_);
    wanted_ = h_;
    // The unit in the last place of the largest t of the interval, for the shortest step.
    const double far = std::max(std::fabs(t0), std::fabs(t1));
    unit_ = std::nextafter(far, HUGE_VAL) - far;
    if (!f_(t_, std::as_const(out_.y), k_.k1)) {
      out_.end = AdaptiveEnd::Refused;
      return;
    }
    running_ = true;
  }

  bool Running() const { return running_; }
  const AdaptiveResult<N>& Result() const { return out_; }

  // One step, accepted or not.
  void Advance() {
    Begin();
    Stage<2>();
    Stage<3>();
    Stage<4>();
    Stage<5>();
    Stage<6>();
    Stage<7>();
    Conclude();
  }

  // The step's length and end; the integration ends here when its steps ran out.
  void Begin() {
    if (!running_) return;
    if (out_.accepted + out_.rejected >= control_.maxSteps) {
      out_.end = AdaptiveEnd::StepLimit;
      Finish();
      return;
    }
    // The step ends on the next breakpoint or the interval's end where it would reach them (or
    // stop just short of them).
    stop_ = pendingCut_ > t_ && pendingCut_ < t1_ ? pendingCut_ : nextBreak_(t_);
    pendingCut_ = 0;
    if (!(stop_ > t_) || stop_ >= t1_) stop_ = t1_;
    cut_ = t_ + 1.01 * h_ >= stop_;
    if (!cutBefore_) wanted_ = h_;
    if (cut_) h_ = stop_ - t_;
    live_ = true;
  }

  // Stage S (2 .. 7) of the step: its point (Point), then the system's slope there (Evaluate).
  template <int S>
  void Stage() {
    Point<S>();
    Evaluate<S>();
  }
  template <int S>
  void Point() {
    if (live_)
      dormand_prince_detail::StagePoint<S, dormand_prince_detail::ReadComponents<System, N>()>(
          h_, out_.y, k_, point_, next_);
  }
  template <int S>
  void Evaluate() {
    if (!live_) return;
    live_ = f_(StageTime<S>(), StageState<S>(), StageSlope<S>());
    refused_ = !live_;
  }
  // Stage S's place, point and slope, for a caller that evaluates the system there itself (and
  // calls Refuse where the system refused the point), while the step's stages go on (Live).
  bool Live() const { return live_; }
  template <int S>
  double StageTime() const {
    return dormand_prince_detail::StageTime<S>(t_, h_, cut_ ? stop_ : t_ + h_);
  }
  template <int S>
  const State& StageState() const {
    return S == 7 ? next_ : point_;
  }
  template <int S>
  State& StageSlope() {
    return dormand_prince_detail::StageSlope<S>(k_);
  }
  void Refuse() {
    live_ = false;
    refused_ = true;
  }
  System& system() { return f_; }

  // Accepts the step or makes it shorter; the integration ends here when it reached t1 or cannot
  // go on.
  void Conclude() {
    if (!running_) return;
    using dormand_prince_detail::StepFactor;
    constexpr double kMostShrink = 0.2, kRefusedShrink = 0.25;
    const bool refused = refused_;
    refused_ = live_ = false;
    const double smallest = std::max(control_.smallestStep, 32 * unit_);
    // A refused stage point shortens the step fourfold; an error above the bound (or not a number)
    // by the control's factor.
    if (!refused) dormand_prince_detail::StepError(h_, k_, error_);
    const double size =
        refused ? HUGE_VAL
                : norm_(std::as_const(out_.y), std::as_const(next_), std::as_const(error_));
    if (!(size <= 1)) {
      ++out_.rejected;
      const double shorter =
          refused ? h_ * kRefusedShrink
                  : h_ / (std::isfinite(size) ? std::min(1 / kMostShrink, StepFactor(size))
                                              : 1 / kMostShrink);
      if (shorter < smallest) {
        out_.end = refused ? AdaptiveEnd::Refused : AdaptiveEnd::Underflow;
        Finish();
        return;
      }
      h_ = shorter;
      rejectedBefore_ = true;
      cutBefore_ = false;
      return;
    }
    const DenseStep<N> step{t_,     h_,     &out_.y, &next_, &k_.k1,
                            &k_.k3, &k_.k4, &k_.k5,  &k_.k6, &k_.k7};
    if (const double at = cutBefore_ ? HUGE_VAL : cutAt_(step);
        at > t_ + 0.01 * h_ && at < t_ + 0.99 * h_) {
      ++out_.rejected;  // the solution meets a breakpoint inside the step: made again to end there
      pendingCut_ = at;
      cutBefore_ = true;
      return;
    }
    cutBefore_ = false;
    ++out_.accepted;
    onStep_(step);
    if (cut_ && stop_ == t1_) {
      out_.y = next_;
      Finish();
      return;
    }
    out_.lastStep = h_;
    t_ = cut_ ? stop_ : t_ + h_;
    out_.y = next_;
    k_.k1 = k_.k7;
    h_ = std::min(dormand_prince_detail::NextStep(h_, size, rejectedBefore_, cut_, wanted_),
                  largest_);
    rejectedBefore_ = false;
  }

 private:
  void Finish() {
    running_ = false;
    out_.t = out_.end == AdaptiveEnd::Reached ? t1_ : t_;
  }

  System& f_;
  Norm& norm_;
  OnStep& onStep_;
  Breaks& nextBreak_;
  Cuts& cutAt_;
  const StepControl& control_;
  double t1_;
  AdaptiveResult<N> out_;  // y: the solution at t_
  double t_;
  double largest_ = 0, h_ = 0, unit_ = 0;
  bool running_ = false;
  bool rejectedBefore_ = false;
  double wanted_ = 0;       // the step the control asked for before a cut
  double pendingCut_ = 0;   // where the step about to be made again is to end
  bool cutBefore_ = false;  // the step about to be made is the cut of a step made already
  double stop_ = 0;         // where the step is cut to end (cut_)
  bool cut_ = false;
  bool live_ = false;     // the step's stages go on
  bool refused_ = false;  // a stage point of the step was refused
  State point_{}, next_{}, error_{};
  dormand_prince_detail::Stages<N> k_{};
};

template <std::size_t N, class System, class Norm, class OnStep, class Breaks = NoBreaks,
          class Cuts = NoCuts<N>>
AdaptiveResult<N> IntegrateDormandPrince(System&& f, double t0, double t1, std::array<double, N> y0,
                                         const StepControl& control, Norm&& norm, OnStep&& onStep,
                                         Breaks&& nextBreak = {}, Cuts&& cutAt = {}) {
  DormandPrinceRun<N, std::remove_reference_t<System>, std::remove_reference_t<Norm>,
                   std::remove_reference_t<OnStep>, std::remove_reference_t<Breaks>,
                   std::remove_reference_t<Cuts>>
      run(f, t0, t1, y0, control, norm, onStep, nextBreak, cutAt);
  while (run.Running()) run.Advance();
  return run.Result();
}

// Two integrations stage by stage in turn until either ends, then the other alone (see
// DormandPrinceRun). At the stages where both go on, pair(ta, ya, ka, tb, yb, kb, okA, okB) (where
// given) evaluates both systems at once, as each would alone; else each evaluates its own.
struct NoPair {};
template <int S, class A, class B, class Pair>
void StagesInTurn(A& a, B& b, Pair& pair) {
  a.template Point<S>();
  b.template Point<S>();
  if constexpr (!std::is_same_v<Pair, NoPair>) {
    if (a.Live() && b.Live()) {
      bool okA = true, okB = true;
      pair(a.template StageTime<S>(), a.template StageState<S>(), a.template StageSlope<S>(),
           b.template StageTime<S>(), b.template StageState<S>(), b.template StageSlope<S>(), okA,
           okB);
      if (!okA) a.Refuse();
      if (!okB) b.Refuse();
      return;
    }
  }
  a.template Evaluate<S>();
  b.template Evaluate<S>();
}

template <class A, class B, class Pair = NoPair>
void IntegrateInTurn(A& a, B& b, Pair&& pair = {}) {
  while (a.Running() && b.Running()) {
    a.Begin();
    b.Begin();
    StagesInTurn<2>(a, b, pair);
    StagesInTurn<3>(a, b, pair);
    StagesInTurn<4>(a, b, pair);
    StagesInTurn<5>(a, b, pair);
    StagesInTurn<6>(a, b, pair);
    StagesInTurn<7>(a, b, pair);
    a.Conclude();
    b.Conclude();
  }
  while (a.Running()) a.Advance();
  while (b.Running()) b.Advance();
}

}  // namespace zuba
