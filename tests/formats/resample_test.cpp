// Trigonometric interpolation of the samples of one period.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numerics/trig_interpolation.h"

namespace zuba {
namespace {

const double kPi = 4 * std::atan(1.0);

// f(x) for x in units of the sample step of n samples per period: harmonics below n/2 only.
double BandLimited(double x, int n, int top) {
  const double t = 2 * kPi * x / n;
  double f = 0.7;
  for (int h = 1; h <= top; ++h) f += std::cos(h * t + 0.3 * h) / h;
  return f;
}

TEST(PeriodicResampler, ReproducesABandLimitedFunctionAtAnyPoint) {
  // Even and odd sample counts, finer and coarser targets, points off the samples.
  struct Case {
    int n, top, m;
    double offset;
  };
  for (const Case c : {Case{1080, 100, 1125, 0}, Case{1080, 359, 720, 0.25}, Case{45, 22, 64, -3.7},
                       Case{12, 5, 7, 0.5}}) {
    std::vector<double> samples(c.n), points(c.m), out(c.m);
    for (int j = 0; j < c.n; ++j) samples[j] = BandLimited(j, c.n, c.top);
    for (int i = 0; i < c.m; ++i) points[i] = c.offset + i * double(c.n) / c.m;
    PeriodicResampler(c.n, points).Apply(samples, out);
    for (int i = 0; i < c.m; ++i)
      ASSERT_NEAR(out[i], BandLimited(points[i], c.n, c.top), 1e-11) << c.n << " -> " << c.m;
  }
}

TEST(PeriodicCardinal, IsOneAtItsSampleAndZeroAtTheOthers) {
  for (int n : {7, 8}) {
    EXPECT_EQ(PeriodicCardinal(n, 0), 1.0);
    EXPECT_EQ(PeriodicCardinal(n, n), 1.0);
    EXPECT_EQ(PeriodicCardinal(n, -2 * n), 1.0);
    for (int k = 1; k < n; ++k) EXPECT_EQ(PeriodicCardinal(n, k), 0.0) << n << " " << k;
  }
}

}  // namespace
}  // namespace zuba
