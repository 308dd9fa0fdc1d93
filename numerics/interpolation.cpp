// One-dimensional interpolation kernels (parabolas, natural cubic splines, tabulated functions).
// The operation order of every formula is part of the program's results: keep it as written.
#include "numerics/interpolation.h"

#include <cmath>
#include <string>

#include "numerics/error.h"
#include "numerics/parabola.h"

namespace zuba {

using detail::CountIs;
using detail::ShowNumericsError;

namespace {

using detail::MakeParabola;
using Parabola = detail::ParabolaCoefficients;

// Derivatives of the parabola through nodes j, j+1, j+2 of the table at its node k.
bool TableParabolaDerivative(std::span<const double> X, std::span<const double> Y, int32_t j, int k,
                             double& d1, double& d2) {
  return ParabolaDerivative(X[j], Y[j], X[j + 1], Y[j + 1], X[j + 2], Y[j + 2], k, d1, d2) == 1;
}

}  // namespace

int ParabolaValue(double x0, double y0, double x1, double y1, double x2, double y2, double x,
                  double& y) {
  Parabola p;
  if (!MakeParabola(x0, y0, x1, y1, x2, y2, p)) return 0;
  y = p.S * (x * x) - p.L * x + p.C;
  return 1;
}

int ParabolaDerivative(double x0, double y0, double x1, double y1, double x2, double y2, int k,
                       double& d1, double& d2) {
  Parabola p;
  if (!MakeParabola(x0, y0, x1, y1, x2, y2, p)) return 0;
  const double t = k == 0 ? x0 : (k == 1 ? x1 : x2);
  d2 = 2.0 * p.S;
  d1 = 2.0 * p.S * t - p.L;
  return 1;
}

int NodeDerivative(std::span<const double> X, std::span<const double> Y, int32_t n, int32_t i,
                   double& d1, double& d2) {
  if (!CountIs(X, n) || !CountIs(Y, n)) {
    ShowNumericsError("Graph Point Number Error!");
    return 0;
  }
  if (n < 3) {
    ShowNumericsError("Too few nodes for a node derivative: " + std::to_string(n) +
                      " (at least 3 needed)!");
    return 0;
  }
  if (i < 0 || i >= n) {
    ShowNumericsError("Node index " + std::to_string(i) + " outside the table of " +
                      std::to_string(n) + " nodes!");
    return 0;
  }
  if (i == 0) return TableParabolaDerivative(X, Y, 0, 0, d1, d2) ? 1 : 0;
  if (i == n - 1) return TableParabolaDerivative(X, Y, n - 3, 2, d1, d2) ? 1 : 0;

  // Inner node: centred value, then backward and forward values where the table reaches.
  double cd1, cd2, bd1, bd2, fd1, fd2;
  if (!TableParabolaDerivative(X, Y, i - 1, 1, cd1, cd2)) return 0;
  if (i == 1) {
    if (n <= 3) {
      d1 = cd1;
      d2 = cd2;
      return 1;
    }
    if (!TableParabolaDerivative(X, Y, 1, 0, fd1, fd2)) return 0;
    d1 = (cd1 + fd1) * 0.5;
    d2 = (cd2 + fd2) * 0.5;
    return 1;
  }
  if (i <= n - 3) {
    if (!TableParabolaDerivative(X, Y, i - 2, 2, bd1, bd2)) return 0;
    if (!TableParabolaDerivative(X, Y, i, 0, fd1, fd2)) return 0;
    d1 = (cd1 + bd1 + fd1) / 3.0;
    d2 = (cd2 + bd2 + fd2) / 3.0;
    return 1;
  }
  // i == n − 2 and i >= 2.
  if (!TableParabolaDerivative(X, Y, i - 2, 2, bd1, bd2)) return 0;
  d1 = (cd1 + bd1) * 0.5;
  d2 = (cd2 + bd2) * 0.5;
  return 1;
}

int SplineSetup(std::span<const double> X, std::span<const double> Y, int32_t n,
                std::vector<double>& h, std::vector<double>& M) {
  if (!CountIs(X, n) || !CountIs(Y, n)) return 0;
  if (n < 2) {
    ShowNumericsError("Too few nodes for a spline: " + std::to_string(n) + " (at least 2 needed)!");
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(n);
  h.assign(count, 0.0);
  M.assign(count, 0.0);
  std::vector<double> a(count, 0.0), b(count, 0.0), c(count, 0.0), d(count, 0.0);
  for (int32_t i = 1; i < n; ++i)
    if (!(X[i - 1] < X[i])) return 0;
  if (!AssembleSplineSystem(X, Y, n, h, a, b, c, d)) return 0;
  if (!SolveTridiagonal(a, b, c, d, n, M)) return 0;
  return 1;
}

int AssembleSplineSystem(std::span<const double> X, std::span<const double> Y, int32_t n,
                         std::vector<double>& h, std::vector<double>& a, std::vector<double>& b,
                         std::vector<double>& c, std::vector<double>& d) {
  if (!CountIs(X, n) || !CountIs(Y, n)) {
    ShowNumericsError("Element number error!");
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(n);
  for (std::vector<double>* table : {&h, &a, &b, &c, &d}) table->assign(count, 0.0);
  for (int32_t i = 1; i <= n - 1; ++i) {
    h[i] = X[i] - X[i - 1];
    a[i] = h[i] / 6.0;
  }
  for (int32_t i = 1; i <= n - 2; ++i) {
    b[i] = (h[i] + h[i + 1]) / 3.0;
    c[i] = h[i + 1] / 6.0;
    d[i] = (Y[i + 1] - Y[i]) / h[i + 1] - (Y[i] - Y[i - 1]) / h[i];
  }
  return 1;
}

int SolveTridiagonal(std::span<const double> a, std::span<const double> b,
                     std::span<const double> c, std::span<const double> d, int32_t n,
                     std::vector<double>& M) {
  if (!CountIs(a, n) || !CountIs(b, n) || !CountIs(c, n) || !CountIs(d, n)) {
    ShowNumericsError("Element number error!");
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(n);
  M.assign(count, 0.0);
  if (n < 3) return 1;  // no inner node: both moments are the natural end values
  std::vector<double> P(count, 0.0), Q(count, 0.0);
  P[1] = -c[1] / b[1];
  Q[1] = d[1] / b[1];
  for (int32_t i = 2; i <= n - 2; ++i) {
    const double den = a[i] * P[i - 1] + b[i];
    P[i] = -c[i] / den;
    Q[i] = (d[i] - a[i] * Q[i - 1]) / den;
  }
  M[n - 1] = 0.0;
  for (int32_t i = n - 2; i >= 1; --i) M[i] = P[i] * M[i + 1] + Q[i];
  M[0] = 0.0;
  return 1;
}

int SplineValue(std::span<const double> h, std::span<const double> M, std::span<const double> X,
                std::span<const double> Y, int32_t n, double x, double& y) {
  if (!CountIs(h, n) || !CountIs(M, n) || !CountIs(X, n) || !CountIs(Y, n)) return 0;
  int32_t j = 1;
  while (j < n - 2 && !(X[j] <= x && x < X[j + 1])) ++j;
  if (j >= n - 2) {
    ShowNumericsError("Invalid Value of Index!");
    return 0;
  }
  const double H = h[j + 1];
  const double A = X[j + 1] - x;
  const double B = x - X[j];
  y = A * A * A * M[j] / (6.0 * H) + B * B * B * M[j + 1] / (6.0 * H) +
      (Y[j] / H - M[j] * H / 6.0) * A + (Y[j + 1] / H - M[j + 1] * H / 6.0) * B;
  return 1;
}

int32_t FindInterval(std::span<const double> X, double x) {
  const int32_t n = static_cast<int32_t>(X.size());
  int32_t f = -1;
  for (int32_t i = 0; i <= n - 3; ++i) {
    if (X[i] <= x && x < X[i + 1]) {
      f = i;
      break;
    }
  }
  // Below the first node: the parabola through the first three nodes extrapolates.
  if (f < 0) f = x < X[0] ? 0 : n - 2;
  if (X[n - 2] <= x && x < X[n - 1]) {
    f = n - 2;
  } else if (x == X[n - 1]) {
    f = n - 1;
  } else if (!(x < X[n - 1])) {
    return -1;  // above the last node, or not a number
  }
  return f;
}

int InterpolateTable(std::span<const double> X, std::span<const double> Y, double x, double& y) {
  const int32_t n = static_cast<int32_t>(X.size());
  if (Y.size() != X.size()) {
    ShowNumericsError("Array size error!");
    return 0;
  }
  if (n < 3) {
    ShowNumericsError("Too few nodes for table interpolation: " + std::to_string(n) +
                      " (at least 3 needed)!");
    return 0;
  }
  std::vector<double> h, M;
  if (!SplineSetup(X, Y, n, h, M)) return 0;
  const int32_t f = FindInterval(X, x);
  if (f < 0) {
    ShowNumericsError("Radius value error!");
    return 0;
  }
  if (1 <= f && f <= n - 3) return SplineValue(h, M, X, Y, n, x, y);
  if (f == 0) return ParabolaValue(X[0], Y[0], X[1], Y[1], X[2], Y[2], x, y);
  return ParabolaValue(X[n - 3], Y[n - 3], X[n - 2], Y[n - 2], X[n - 1], Y[n - 1], x, y);
}

}  // namespace zuba
