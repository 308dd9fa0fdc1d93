// The three-point parabola in the expanded monomial form S·x² − L·x + C, shared by the parabola
// kernels and the field patches so that both work from identically rounded coefficients.
#pragma once

namespace zuba::detail {

struct ParabolaCoefficients {
  double S, L, C;
};

// Lagrange parabola through (x0, y0), (x1, y1), (x2, y2); false unless x0 < x1 < x2.
inline bool MakeParabola(double x0, double y0, double x1, double y1, double x2, double y2,
                         ParabolaCoefficients& p) {
  if (!(x0 < x1 && x1 < x2)) return false;
  const double D0 = (x0 - x1) * (x0 - x2);
  const double D1 = (x1 - x0) * (x1 - x2);
  const double D2 = (x2 - x0) * (x2 - x1);
  const double w0 = y0 / D0;
  const double w1 = y1 / D1;
  const double w2 = y2 / D2;
  p.S = w0 + w1 + w2;
  p.L = (x1 + x2) * w0 + (x0 + x2) * w1 + (x0 + x1) * w2;
  p.C = x1 * x2 * w0 + x0 * x2 * w1 + x0 * x1 * w2;
  return true;
}

}  // namespace zuba::detail
