#include "numerics/dormand_prince.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace zuba {
namespace {

using State = std::array<double, 2>;
const double kTwoPiTest = 8 * std::atan(1.0);

// The harmonic oscillator y'' = -y from (1, 0): y = (cos t, -sin t).
bool Oscillator(double /*t*/, const State& y, State& d) {
  d = {y[1], -y[0]};
  return true;
}

// The largest error of either component relative to 1 (the solution's amplitude), in units of
// the tolerance.
struct Absolute {
  double tolerance;
  double operator()(const State&, const State&, const State& e) const {
    return std::max(std::fabs(e[0]), std::fabs(e[1])) / tolerance;
  }
};

// Every step accepted: a fixed step h (the interval a whole number of them).
struct Accept {
  double operator()(const State&, const State&, const State&) const { return 0; }
};

struct Steps {
  std::vector<double> ends;
  void operator()(const DenseStep<2>& s) { ends.push_back(s.t0 + s.h); }
};

double FixedStepError(int32_t steps) {
  StepControl control;
  control.initialStep = control.largestStep = kTwoPiTest / steps;
  Steps seen;
  const AdaptiveResult<2> r =
      IntegrateDormandPrince(Oscillator, 0.0, kTwoPiTest, State{1, 0}, control, Accept{}, seen);
  EXPECT_EQ(r.end, AdaptiveEnd::Reached);
  EXPECT_EQ(r.accepted, steps);
  return std::hypot(r.y[0] - 1, r.y[1]);
}

TEST(DormandPrince, FixedStepsConvergeAtFifthOrder) {
  // Halving the step divides the error of one period by 2^5.
  const double e20 = FixedStepError(20), e40 = FixedStepError(40), e80 = FixedStepError(80);
  EXPECT_NEAR(std::log2(e20 / e40), 5.0, 0.4) << e20 << " " << e40;
  EXPECT_NEAR(std::log2(e40 / e80), 5.0, 0.4) << e40 << " " << e80;
}

// The step factor from its tables: size^(1/5) / 0.9 within 4e-4 over the norms a step control
// meets, across the mantissa's and the exponent's steps (powers of two and just below them).
TEST(DormandPrince, StepFactorIsTheFifthRootOfTheNorm) {
  double worst = 0;
  for (double size = 1e-6; size < 1e5; size *= 1.0137) {
    for (const double x : {size, std::exp2(std::round(std::log2(size))),
                           std::nextafter(std::exp2(std::round(std::log2(size))), 0.0)}) {
      const double exact = std::pow(x, 0.2) / 0.9;
      worst = std::max(worst, std::fabs(dormand_prince_detail::StepFactor(x) / exact - 1));
    }
  }
  EXPECT_LT(worst, 4e-4);
  EXPECT_GT(worst, 1e-5);  // the tables' own step: a factor rounded, not computed
}

TEST(DormandPrince, StepControlKeepsTheErrorNearTheToleranceWithFewerStepsForLooserOnes) {
  struct Row {
    double tolerance;
    double mostError;  // after ten periods: the local bound times the steps' growth of the error
  };
  int64_t previousSteps = 0;
  for (const Row row : {Row{1e-6, 3e-5}, Row{1e-9, 3e-8}, Row{1e-12, 3e-11}}) {
    StepControl control;
    Steps seen;
    const AdaptiveResult<2> r = IntegrateDormandPrince(
        Oscillator, 0.0, 10 * kTwoPiTest, State{1, 0}, control, Absolute{row.tolerance}, seen);
    ASSERT_EQ(r.end, AdaptiveEnd::Reached) << row.tolerance;
    EXPECT_LT(std::hypot(r.y[0] - 1, r.y[1]), row.mostError) << row.tolerance;
    // The last step ends exactly on the interval's end.
    EXPECT_EQ(seen.ends.back(), 10 * kTwoPiTest);
    // Steps grow as tolerance^(-1/5): a thousandfold tighter tolerance costs about 4 times more.
    if (previousSteps > 0) {
      EXPECT_GT(r.accepted, 3 * previousSteps) << row.tolerance;
      EXPECT_LT(r.accepted, 6 * previousSteps) << row.tolerance;
    }
    previousSteps = r.accepted;
  }
}

TEST(DormandPrince, ContinuousExtensionAgreesWithTheSolutionInsideEachStep) {
  // Fourth order inside a step: with 0.1-long steps the extension stays within about 1e-7 of the
  // solution at any point of a step; the steps' ends are the fifth-order solution itself.
  StepControl control;
  control.initialStep = control.largestStep = 0.1;
  double worst = 0;
  int32_t points = 0;
  auto onStep = [&](const DenseStep<2>& s) {
    const std::array<double, 5> c0 = s.Coefficients(0), c1 = s.Coefficients(1);
    EXPECT_EQ(DenseValue(c0, 0.0), (*s.y0)[0]);
    EXPECT_NEAR(DenseValue(c0, 1.0), (*s.y1)[0], 1e-15);
    for (const double u : {0.13, 0.5, 0.77}) {
      const double t = s.t0 + u * s.h;
      worst = std::max({worst, std::fabs(DenseValue(c0, u) - std::cos(t)),
                        std::fabs(DenseValue(c1, u) + std::sin(t))});
      ++points;
    }
  };
  const AdaptiveResult<2> r =
      IntegrateDormandPrince(Oscillator, 0.0, 3.0, State{1, 0}, control, Accept{}, onStep);
  ASSERT_EQ(r.end, AdaptiveEnd::Reached);
  EXPECT_EQ(points, 90);
  EXPECT_LT(worst, 1e-7);
  EXPECT_GT(worst, 1e-12);  // a fourth-order extension, not the exact solution
}

TEST(DormandPrince, StepsEndOnBreakpointsAndWhereTheSolutionMeetsOne) {
  // Breakpoints known in advance at 0.3 and 0.7; the solution's first component meets 0.5 at
  // t = pi / 3 (cos t = 0.5), where cutAt puts a breakpoint.
  const double meet = std::acos(0.5);
  auto nextBreak = [](double t) { return t < 0.3 ? 0.3 : t < 0.7 ? 0.7 : HUGE_VAL; };
  auto cutAt = [&](const DenseStep<2>& s) {
    const double a = (*s.y0)[0] - 0.5, b = (*s.y1)[0] - 0.5;
    return a * b < 0 ? s.t0 + s.h * a / (a - b) : HUGE_VAL;  // where the chord meets it
  };
  StepControl control;
  control.initialStep = 0.25;
  Steps seen;
  const AdaptiveResult<2> r = IntegrateDormandPrince(Oscillator, 0.0, 2.0, State{1, 0}, control,
                                                     Absolute{1e-10}, seen, nextBreak, cutAt);
  ASSERT_EQ(r.end, AdaptiveEnd::Reached);
  auto endsOn = [&](double t, double within) {
    for (const double e : seen.ends)
      if (std::fabs(e - t) <= within) return true;
    return false;
  };
  EXPECT_TRUE(endsOn(0.3, 0.0));
  EXPECT_TRUE(endsOn(0.7, 0.0));
  EXPECT_TRUE(endsOn(meet, 1e-4)) << "no step ends where the solution meets 0.5";
  EXPECT_NEAR(r.y[0], std::cos(2.0), 1e-9);
}

using State3 = std::array<double, 3>;
// (cos t, -sin t) and the integral of cos t, sin t; Declared says that the third is not read.
struct Quadrature {
  bool operator()(double, const State3& y, State3& d) const {
    d = {y[1], -y[0], y[0]};
    return true;
  }
};
struct Declared : Quadrature {
  static constexpr std::size_t kReadComponents = 2;
};

// Two integrations made stage by stage in turn end as each alone, bit for bit, where one ends
// early too; a component the derivatives do not read (a quadrature, declared so) is the same
// whether its values inside the steps are formed or not.
TEST(DormandPrince, IntegrationsInTurnAndQuadraturesEndAsAlone) {
  auto norm = [](const State3&, const State3&, const State3& e) {
    return std::max({std::fabs(e[0]), std::fabs(e[1]), std::fabs(e[2])}) / 1e-10;
  };
  auto edge = [](double t, const State3& y, State3& d) {  // refuses from t = 0.5 on
    d = {y[1], -y[0], 1};
    return t < 0.5;
  };
  auto breaks = [](double t) { return t < 0.3 ? 0.3 : HUGE_VAL; };
  auto none = [](const DenseStep<3>&) {};
  StepControl control;
  control.smallestStep = 1e-10;
  const AdaptiveResult<3> quadrature =
      IntegrateDormandPrince(Quadrature{}, 0.0, 3.0, State3{1, 0, 0}, control, norm, none, breaks);
  const AdaptiveResult<3> declared =
      IntegrateDormandPrince(Declared{}, 0.0, 3.0, State3{1, 0, 0}, control, norm, none, breaks);
  const AdaptiveResult<3> refused =
      IntegrateDormandPrince(edge, 0.0, 3.0, State3{1, 0, 0}, control, norm, none);
  EXPECT_EQ(declared.y, quadrature.y);
  EXPECT_EQ(declared.accepted, quadrature.accepted);
  EXPECT_NEAR(declared.y[2], std::sin(3.0), 1e-9);
  ASSERT_EQ(refused.end, AdaptiveEnd::Refused);

  Declared f;
  NoCuts<3> cuts;
  NoBreaks noBreaks;
  DormandPrinceRun<3, Declared, decltype(norm), decltype(none), decltype(breaks)> a(
      f, 0.0, 3.0, State3{1, 0, 0}, control, norm, none, breaks, cuts);
  DormandPrinceRun<3, decltype(edge), decltype(norm), decltype(none)> b(
      edge, 0.0, 3.0, State3{1, 0, 0}, control, norm, none, noBreaks, cuts);
  IntegrateInTurn(a, b);
  EXPECT_EQ(a.Result().y, declared.y);
  EXPECT_EQ(a.Result().accepted, declared.accepted);
  EXPECT_EQ(a.Result().rejected, declared.rejected);
  EXPECT_EQ(b.Result().end, AdaptiveEnd::Refused);
  EXPECT_EQ(b.Result().t, refused.t);
  EXPECT_EQ(b.Result().y, refused.y);
}

TEST(DormandPrince, EveryIntegrationEndsWithTheReasonWhereItCannotGoOn) {
  // y' = y^2 from y(0) = 1: y = 1 / (1 - t) has no solution at t = 1.
  auto blowUp = [](double, const State& y, State& d) {
    d = {y[0] * y[0], 0};
    return true;
  };
  // A system defined only for t < 0.5.
  auto edge = [](double t, const State& y, State& d) {
    d = {y[1], -y[0]};
    return t < 0.5;
  };
  StepControl control;
  control.smallestStep = 1e-10;
  Steps seen;
  {
    SCOPED_TRACE("singular solution: the step underflows just before t = 1");
    const AdaptiveResult<2> r =
        IntegrateDormandPrince(blowUp, 0.0, 2.0, State{1, 0}, control, Absolute{1e-9}, seen);
    EXPECT_EQ(r.end, AdaptiveEnd::Underflow);
    EXPECT_NEAR(r.t, 1.0, 1e-3);
    EXPECT_LT(r.t, 1.0);
  }
  {
    SCOPED_TRACE("refused points: the steps shorten up to the edge, then it gives up");
    const AdaptiveResult<2> r =
        IntegrateDormandPrince(edge, 0.0, 2.0, State{1, 0}, control, Absolute{1e-9}, seen);
    EXPECT_EQ(r.end, AdaptiveEnd::Refused);
    EXPECT_NEAR(r.t, 0.5, 1e-8);
    EXPECT_NEAR(r.y[0], std::cos(r.t), 1e-8);
  }
  {
    SCOPED_TRACE("too many steps");
    StepControl few = control;
    few.maxSteps = 10;
    const AdaptiveResult<2> r =
        IntegrateDormandPrince(Oscillator, 0.0, 100.0, State{1, 0}, few, Absolute{1e-12}, seen);
    EXPECT_EQ(r.end, AdaptiveEnd::StepLimit);
    EXPECT_EQ(r.accepted + r.rejected, 10);
    EXPECT_LT(r.t, 100.0);
  }
  {
    SCOPED_TRACE("a norm that is not a number rejects the step until it underflows");
    auto nan = [](const State&, const State&, const State&) { return std::nan(""); };
    const AdaptiveResult<2> r =
        IntegrateDormandPrince(Oscillator, 0.0, 1.0, State{1, 0}, control, nan, seen);
    EXPECT_EQ(r.end, AdaptiveEnd::Underflow);
    EXPECT_EQ(r.t, 0.0);
  }
}

}  // namespace
}  // namespace zuba
