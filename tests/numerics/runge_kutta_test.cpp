// The fourth-order Runge-Kutta stepper in both forms, on equations whose solutions are known.
#include "numerics/runge_kutta.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace zuba {
namespace {

using State1 = std::array<double, 1>;
using State2 = std::array<double, 2>;

template <class Form>
class RungeKutta4Test : public testing::Test {};
using Forms = testing::Types<SlopeForm, IncrementForm>;
TYPED_TEST_SUITE(RungeKutta4Test, Forms);

TYPED_TEST(RungeKutta4Test, KnownSolutions) {
  using Stepper = RungeKutta4<TypeParam>;
  // y' = y: one step multiplies y by the Taylor polynomial of e^h to fourth order.
  auto growth = [](double, const State1& y, State1& d) { return d[0] = y[0], true; };
  State1 y{2.0};
  ASSERT_TRUE(Stepper::Step(growth, y, 0.0, 0.5));
  EXPECT_NEAR(y[0], 2 * (1 + 0.5 + 0.125 + 0.125 / 6 + 0.0625 / 24), 1e-15);
  // y' = 4 t^3 from t = 1 to 1.5: stages at t, t + h/2 and t + h make Simpson's rule, exact for a
  // cubic: y grows by 1.5^4 - 1.
  auto cubic = [](double t, const State1&, State1& d) { return d[0] = 4 * t * t * t, true; };
  y = {1.0};
  ASSERT_TRUE(Stepper::Step(cubic, y, 1.0, 0.5));
  EXPECT_NEAR(y[0], 5.0625, 1e-14);
  // x'' = -x over t = 0 .. 2: the error against (cos t, -sin t) falls 16-fold as h halves.
  auto oscillator = [](double, const State2& y, State2& d) { return d = {y[1], -y[0]}, true; };
  auto error = [&](int steps) {
    State2 x{1.0, 0.0};
    for (int i = 0; i < steps; ++i) EXPECT_TRUE(Stepper::Step(oscillator, x, 0.0, 2.0 / steps));
    return std::hypot(x[0] - std::cos(2.0), x[1] + std::sin(2.0));
  };
  EXPECT_NEAR(error(20) / error(40), 16, 1);
  // A point refused at any stage stops the step and leaves the state as it was.
  for (int refused = 2; refused <= 4; ++refused) {
    int calls = 0;
    auto refusing = [&](double, const State1&, State1& d) { return d[0] = 1, ++calls != refused; };
    y = {3.0};
    EXPECT_FALSE(Stepper::Step(refusing, y, 0.0, 0.1));
    EXPECT_EQ(y[0], 3.0);
  }
}

// y' = 1, one step of h = 0.1 from 0. The slope form multiplies the sum 6 by h/6 and lands on the
// double 0.1; the increment form sums the increments to the double 0.6, and 0.6 times the rounded
// 1/6 is the double just below 0.1.
TEST(RungeKutta4Forms, RoundTheSameStepDifferently) {
  auto constant = [](double, const State1&, State1& d) { return d[0] = 1, true; };
  State1 slope{0.0}, increment{0.0};
  ASSERT_TRUE(RungeKutta4<SlopeForm>::Step(constant, slope, 0.0, 0.1));
  ASSERT_TRUE(RungeKutta4<IncrementForm>::Step(constant, increment, 0.0, 0.1));
  EXPECT_EQ(slope[0], 0.1);
  EXPECT_EQ(increment[0], std::nextafter(0.1, 0.0));
}

}  // namespace
}  // namespace zuba
