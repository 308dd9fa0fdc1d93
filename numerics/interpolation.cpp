// One-dimensional interpolation kernels (parabolas, natural cubic splines, tabulated functions).
// The operation order of every formula is part of the program's results: keep it as written.
#include "numerics/interpolation.h"

#include <cmath>
#include <string>

#include "numerics/error.h"
#include "numerics/parabola.h"

namespace zuba {

using detail::CountIs;
using detail::CountMismatch;

namespace {

using detail::MakeParabola;
using Parabola = detail::ParabolaCoefficients;

// Derivatives of the parabola through nodes j, j+1, j+2 of the table at its node k.
Outcome TableParabolaDerivative(std::span<const double> X, std::span<const double> Y, int32_t j,
                                int k, double& d1, double& d2) {
  return ParabolaDerivative(X[j], Y[j], X[j + 1], Y[j + 1], X[j + 2], Y[j + 2], k, d1, d2);
}

// The three abscissae of a parabola that do not increase: the first node where they stop.
Failure ParabolaNodes(double x0, double x1, double x2) {
  return x0 < x1 ? detail::NotIncreasing("parabola abscissae", 2, x2)
                 : detail::NotIncreasing("parabola abscissae", 1, x1);
}

}  // namespace

Outcome ParabolaValue(double x0, double y0, double x1, double y1, double x2, double y2, double x,
                      double& y) {
  Parabola p;
  if (!MakeParabola(x0, y0, x1, y1, x2, y2, p)) return ParabolaNodes(x0, x1, x2);
  y = p.S * (x * x) - p.L * x + p.C;
  return {};
}

Outcome ParabolaDerivative(double x0, double y0, double x1, double y1, double x2, double y2, int k,
                           double& d1, double& d2) {
  Parabola p;
  if (!MakeParabola(x0, y0, x1, y1, x2, y2, p)) return ParabolaNodes(x0, x1, x2);
  const double t = k == 0 ? x0 : (k == 1 ? x1 : x2);
  d2 = 2.0 * p.S;
  d1 = 2.0 * p.S * t - p.L;
  return {};
}

Outcome NodeDerivative(std::span<const double> X, std::span<const double> Y, int32_t n, int32_t i,
                       double& d1, double& d2) {
  if (!CountIs(X, n) || !CountIs(Y, n)) return CountMismatch("Graph Point Number Error!", n);
  if (n < 3)
    return ErrorFailure(
        "Too few nodes for a node derivative: " + std::to_string(n) + " (at least 3 needed)!", "n",
        n, 3);
  if (i < 0 || i >= n)
    return ErrorFailure("Node index " + std::to_string(i) + " outside the table of " +
                            std::to_string(n) + " nodes!",
                        "i", i, 0, n - 1);
  if (i == 0) return TableParabolaDerivative(X, Y, 0, 0, d1, d2);
  if (i == n - 1) return TableParabolaDerivative(X, Y, n - 3, 2, d1, d2);

  // Inner node: centred value, then backward and forward values where the table reaches.
  double cd1, cd2, bd1, bd2, fd1, fd2;
  if (Outcome o = TableParabolaDerivative(X, Y, i - 1, 1, cd1, cd2); !o) return o;
  if (i == 1) {
    if (n <= 3) {
      d1 = cd1;
      d2 = cd2;
      return {};
    }
    if (Outcome o = TableParabolaDerivative(X, Y, 1, 0, fd1, fd2); !o) return o;
    d1 = (cd1 + fd1) * 0.5;
    d2 = (cd2 + fd2) * 0.5;
    return {};
  }
  if (i <= n - 3) {
    if (Outcome o = TableParabolaDerivative(X, Y, i - 2, 2, bd1, bd2); !o) return o;
    if (Outcome o = TableParabolaDerivative(X, Y, i, 0, fd1, fd2); !o) return o;
    d1 = (cd1 + bd1 + fd1) / 3.0;
    d2 = (cd2 + bd2 + fd2) / 3.0;
    return {};
  }
  // i == n − 2 and i >= 2.
  if (Outcome o = TableParabolaDerivative(X, Y, i - 2, 2, bd1, bd2); !o) return o;
  d1 = (cd1 + bd1) * 0.5;
  d2 = (cd2 + bd2) * 0.5;
  return {};
}

Outcome SplineSetup(std::span<const double> X, std::span<const double> Y, int32_t n,
                    std::vector<double>& h, std::vector<double>& M) {
  if (!CountIs(X, n) || !CountIs(Y, n)) {
    Failure failure = CountMismatch("The spline tables do not hold the node count!", n);
    failure.quiet = true;
    return failure;
  }
  if (n < 2)
    return ErrorFailure(
        "Too few nodes for a spline: " + std::to_string(n) + " (at least 2 needed)!", "n", n, 2);
  const std::size_t count = static_cast<std::size_t>(n);
  h.assign(count, 0.0);
  M.assign(count, 0.0);
  std::vector<double> a(count, 0.0), b(count, 0.0), c(count, 0.0), d(count, 0.0);
  for (int32_t i = 1; i < n; ++i)
    if (!(X[i - 1] < X[i])) return detail::NotIncreasing("spline abscissae", i, X[i]);
  if (Outcome o = AssembleSplineSystem(X, Y, n, h, a, b, c, d); !o) return o;
  return SolveTridiagonal(a, b, c, d, n, M);
}

Outcome AssembleSplineSystem(std::span<const double> X, std::span<const double> Y, int32_t n,
                             std::vector<double>& h, std::vector<double>& a, std::vector<double>& b,
                             std::vector<double>& c, std::vector<double>& d) {
  if (!CountIs(X, n) || !CountIs(Y, n)) return CountMismatch("Element number error!", n);
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
  return {};
}

Outcome SolveTridiagonal(std::span<const double> a, std::span<const double> b,
                         std::span<const double> c, std::span<const double> d, int32_t n,
                         std::vector<double>& M) {
  if (!CountIs(a, n) || !CountIs(b, n) || !CountIs(c, n) || !CountIs(d, n))
    return CountMismatch("Element number error!", n);
  const std::size_t count = static_cast<std::size_t>(n);
  M.assign(count, 0.0);
  if (n < 3) return {};  // no inner node: both moments are the natural end values
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
  return {};
}

Outcome SplineValue(std::span<const double> h, std::span<const double> M, std::span<const double> X,
                    std::span<const double> Y, int32_t n, double x, double& y) {
  if (!CountIs(h, n) || !CountIs(M, n) || !CountIs(X, n) || !CountIs(Y, n)) {
    Failure failure = CountMismatch("The spline tables do not hold the node count!", n);
    failure.quiet = true;
    return failure;
  }
  int32_t j = 1;
  while (j < n - 2 && !(X[j] <= x && x < X[j + 1])) ++j;
  if (j >= n - 2)
    return ErrorFailure("Invalid Value of Index!", "x", x, n >= 3 ? X[1] : x,
                        n >= 3 ? X[n - 2] : x);
  const double H = h[j + 1];
  const double A = X[j + 1] - x;
  const double B = x - X[j];
  y = A * A * A * M[j] / (6.0 * H) + B * B * B * M[j + 1] / (6.0 * H) +
      (Y[j] / H - M[j] * H / 6.0) * A + (Y[j + 1] / H - M[j + 1] * H / 6.0) * B;
  return {};
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

Outcome InterpolateTable(std::span<const double> X, std::span<const double> Y, double x,
                         double& y) {
  const int32_t n = static_cast<int32_t>(X.size());
  if (Y.size() != X.size()) return CountMismatch("Array size error!", n);
  if (n < 3)
    return ErrorFailure(
        "Too few nodes for table interpolation: " + std::to_string(n) + " (at least 3 needed)!",
        "n", n, 3);
  std::vector<double> h, M;
  if (Outcome o = SplineSetup(X, Y, n, h, M); !o) return o;
  const int32_t f = FindInterval(X, x);
  if (f < 0) return ErrorFailure("Radius value error!", "R", x, X[0], X[n - 1]);
  if (1 <= f && f <= n - 3) return SplineValue(h, M, X, Y, n, x, y);
  if (f == 0) return ParabolaValue(X[0], Y[0], X[1], Y[1], X[2], Y[2], x, y);
  return ParabolaValue(X[n - 3], Y[n - 3], X[n - 2], Y[n - 2], X[n - 1], Y[n - 1], x, y);
}

}  // namespace zuba
