// Trigonometric interpolation of periodic samples through their cardinal functions.
#include "numerics/trig_interpolation.h"

#include <cmath>

#include "numerics/constants.h"

namespace zuba {

double PeriodicCardinal(int32_t n, double x) {
  // Into one period around 0, then sin(πx) from the distance to the nearest whole number, which
  // makes it exactly 0 at the sample points.
  x -= n * std::round(x / n);
  if (x == 0) return 1;
  const double k = std::round(x);
  const double sine = std::sin(kPi * (x - k)) * (std::fmod(k, 2.0) == 0 ? 1.0 : -1.0);
  const double angle = kPi * x / n;  // within [-π/2, π/2]
  // Even n: sin(πx) / (n tan(πx/n)); odd n: sin(πx) / (n sin(πx/n)).
  return n % 2 == 0 ? sine * std::cos(angle) / (n * std::sin(angle)) : sine / (n * std::sin(angle));
}

PeriodicResampler::PeriodicResampler(int32_t n, std::span<const double> points)
    : n_(n), points_(points.begin(), points.end()) {}

void PeriodicResampler::Apply(std::span<const double> rows, std::span<double> out) const {
  const std::size_t n = static_cast<std::size_t>(n_), m = points_.size();
  const std::size_t count = n == 0 ? 0 : rows.size() / n;
  std::vector<double> weights(n);
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < n; ++j)
      weights[j] = PeriodicCardinal(n_, points_[i] - static_cast<double>(j));
    for (std::size_t r = 0; r < count; ++r) {
      const double* row = rows.data() + r * n;
      double sum = 0;
      for (std::size_t j = 0; j < n; ++j) sum += weights[j] * row[j];
      out[r * m + i] = sum;
    }
  }
}

}  // namespace zuba
