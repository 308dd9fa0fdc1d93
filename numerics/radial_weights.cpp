// The radial weights of the map's interpolation (see radial_weights.h).
#include "numerics/radial_weights.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "numerics/interpolation.h"

namespace zuba {

RadialWeights::RadialWeights(std::vector<double> radii) : radii_(std::move(radii)) {
  const int32_t n = static_cast<int32_t>(radii_.size());
  moments_.assign(static_cast<std::size_t>(n) * n, 0.0);
  std::vector<double> unit(radii_.size(), 0.0), h, M;
  for (int32_t j = 0; j < n; ++j) {
    unit[j] = 1;
    if (SplineSetup(radii_, unit, n, h, M))
      for (int32_t i = 0; i < n; ++i) moments_[static_cast<std::size_t>(i) * n + j] = M[i];
    unit[j] = 0;
  }
}

void RadialWeights::Accumulate(double R, double factor, std::vector<double>& sum) const {
  const int32_t n = static_cast<int32_t>(radii_.size());
  const int32_t f = FindInterval(radii_, R);
  if (f < 0 || n < 3) return;
  if (1 <= f && f <= n - 3) {
    // The spline interval: y = a M_f + b M_f+1 + (A / H) y_f + (B / H) y_f+1 with the moments
    // linear in the node values.
    const double H = radii_[f + 1] - radii_[f];
    const double A = radii_[f + 1] - R, B = R - radii_[f];
    const double a = A * A * A / (6 * H) - A * H / 6;
    const double b = B * B * B / (6 * H) - B * H / 6;
    const double* Mf = &moments_[static_cast<std::size_t>(f) * n];
    const double* Mg = &moments_[static_cast<std::size_t>(f + 1) * n];
    for (int32_t j = 0; j < n; ++j) sum[j] += factor * (a * Mf[j] + b * Mg[j]);
    sum[f] += factor * A / H;
    sum[f + 1] += factor * B / H;
    return;
  }
  // The end intervals: the parabola through three nodes, in Lagrange form.
  const int32_t i0 = f == 0 ? 0 : n - 3;
  const double x0 = radii_[i0], x1 = radii_[i0 + 1], x2 = radii_[i0 + 2];
  sum[i0] += factor * (R - x1) * (R - x2) / ((x0 - x1) * (x0 - x2));
  sum[i0 + 1] += factor * (R - x0) * (R - x2) / ((x1 - x0) * (x1 - x2));
  sum[i0 + 2] += factor * (R - x0) * (R - x1) / ((x2 - x0) * (x2 - x1));
}

}  // namespace zuba
