// Azimuthal quadrature, turn means, field harmonics and the radial derivative map.
#include "numerics/azimuthal.h"

#include <cmath>
#include <string>

#include "numerics/constants.h"
#include "numerics/error.h"
#include "numerics/interpolation.h"

namespace zuba {

using detail::CountIs;
using detail::CountMismatch;

namespace {

// First sample angle of a turn (rad): the multiple of the step 2π/nTheta nearest to thetaStart
// in units of the turn's own step (θend − θstart)/nTheta, halves away from zero.
double FirstSampleAngle(double thetaStart, double thetaEnd, int32_t nTheta, double delta) {
  const double k0 = std::round(thetaStart / ((thetaEnd - thetaStart) / nTheta));
  return delta * k0;
}

// Closed-turn abscissae: t0 = θs, then one step added per node (nTheta + 1 entries).
void TurnAbscissae(double thetaS, double delta, std::vector<double>& t) {
  t[0] = thetaS;
  for (std::size_t j = 1; j < t.size(); ++j) t[j] = t[j - 1] + delta;
}

}  // namespace

Outcome SimpsonIntegral(std::span<const double> X, std::span<const double> Y, int32_t m,
                        double& integral) {
  if (X.size() != Y.size()) return CountMismatch("Source Data Error!", std::ssize(X));
  const int64_t s = static_cast<int64_t>(X.size());
  if (m <= 0 || m >= s) return ErrorFailure("Integration Diapason Error!", "m", m, 1, s - 1);
  const double d = (X[s - 1] - X[0]) / static_cast<double>(s - 1);
  const double end = X[0] + static_cast<double>(s - 1) * d;
  if (!(end - d / 2 < X[s - 1] && X[s - 1] < end + d / 2))
    return ErrorFailure("Integration Step Error!", "X", X[s - 1], end - d / 2, end + d / 2);
  double sum = 0.0;
  const int32_t panelsEnd = (m % 2 == 0) ? m - 2 : m - 3;
  for (int32_t k = 0; k <= panelsEnd; k += 2) sum += (Y[k] + 4.0 * Y[k + 1] + Y[k + 2]) * (d / 3.0);
  if (m % 2 != 0) sum += (Y[m - 1] + Y[m]) * d * 0.5;
  integral = sum;
  return {};
}

Outcome AzimuthalMean(std::span<const double> map, int32_t nR, double thetaStart, double thetaEnd,
                      int32_t nTheta, std::vector<double>& mean) {
  if (nR < 0 || nTheta < 1 || !CountIs(map, static_cast<int64_t>(nR) * nTheta))
    return CountMismatch(("Turn mean: the map does not hold " + std::to_string(nR) + " x " +
                          std::to_string(nTheta) + " values!")
                             .c_str(),
                         std::ssize(map));
  const double pi = kPi;
  mean.assign(static_cast<std::size_t>(nR), 0.0);
  const double delta = 2.0 * pi / nTheta;
  const double thetaS = FirstSampleAngle(thetaStart, thetaEnd, nTheta, delta);
  std::vector<double> t(nTheta + 1), y(nTheta + 1);
  for (int32_t i = 0; i < nR; ++i) {
    TurnAbscissae(thetaS, delta, t);
    for (int32_t j = 0; j < nTheta; ++j) y[j] = map[i * nTheta + j];
    y[nTheta] = y[0];
    double integral;
    if (Outcome o = SimpsonIntegral(t, y, nTheta, integral); !o) return o;
    mean[i] = integral / (2.0 * pi);
  }
  return {};
}

Outcome FieldHarmonics(std::span<const double> field, std::span<const double> radii, int32_t N,
                       double thetaStart, double thetaEnd, int32_t nTheta,
                       std::vector<double>& amplitude, std::vector<double>& phase) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  if (nTheta < 1 || !CountIs(field, static_cast<int64_t>(nR) * nTheta))
    return CountMismatch("Array Size Error!", static_cast<int64_t>(nR) * nTheta);
  if (N < 2) return ErrorFailure("Number of sectors " + std::to_string(N) + " < 2!", "N", N, 2);
  const double pi = kPi;
  const int32_t count = HarmonicCount(N);
  amplitude.assign(static_cast<std::size_t>(nR) * count, 0.0);
  phase.assign(static_cast<std::size_t>(nR) * count, 0.0);
  const double delta = 2.0 * pi / nTheta;
  const double thetaS = FirstSampleAngle(thetaStart, thetaEnd, nTheta, delta);
  std::vector<double> t(nTheta + 1), y(nTheta + 1), ys(nTheta + 1), yc(nTheta + 1);
  TurnAbscissae(thetaS, delta, t);
  // sin(n t) and cos(n t) of every harmonic at the abscissae, the same for every radius.
  const std::size_t points = static_cast<std::size_t>(nTheta) + 1;
  std::vector<double> sines(points * count), cosines(points * count);
  for (int32_t p = 0; p < count; ++p) {
    const double n = HarmonicNumber(N, p);
    for (std::size_t j = 0; j < points; ++j) {
      sines[p * points + j] = std::sin(n * t[j]);
      cosines[p * points + j] = std::cos(n * t[j]);
    }
  }
  for (int32_t i = 0; i < nR; ++i) {
    for (int32_t j = 0; j < nTheta; ++j) y[j] = field[i * nTheta + j];
    y[nTheta] = y[0];
    for (int32_t p = 0; p < count; ++p) {
      const double n = HarmonicNumber(N, p);
      const double* sine = &sines[p * points];
      const double* cosine = &cosines[p * points];
      for (std::size_t j = 0; j < points; ++j) {
        ys[j] = sine[j] * y[j];
        yc[j] = cosine[j] * y[j];
      }
      double S, C;
      if (Outcome o = SimpsonIntegral(t, ys, nTheta, S); !o) return o;
      if (Outcome o = SimpsonIntegral(t, yc, nTheta, C); !o) return o;
      const double b = S / pi;
      const double a = C / pi;
      amplitude[i * count + p] = std::sqrt(a * a + b * b);
      phase[i * count + p] = std::atan2(b, a) / n;
    }
  }
  return {};
}

Outcome RadialDerivativeMap(std::span<const double> field, std::span<const double> radii,
                            int32_t nTheta, std::vector<double>& dBdR) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  if (nTheta < 1 || !CountIs(field, static_cast<int64_t>(nR) * nTheta))
    return CountMismatch("Array size error!", static_cast<int64_t>(nR) * nTheta);
  dBdR.assign(field.size(), 0.0);
  std::vector<double> column(nR);
  for (int32_t j = 0; j < nTheta; ++j) {
    for (int32_t iR = 0; iR < nR; ++iR) column[iR] = field[iR * nTheta + j];
    for (int32_t k = 0; k < nR; ++k) {
      double d1, d2;
      if (Outcome o = NodeDerivative(radii, column, nR, k, d1, d2); !o) return o;
      dBdR[k * nTheta + j] = d1;
    }
  }
  return {};
}

}  // namespace zuba
