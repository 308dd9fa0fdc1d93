// Field map interpolation: radial splines per azimuth column, then the azimuth ring spline.
#include "numerics/field_interpolation.h"

#include <cmath>
#include <string>

#include "numerics/constants.h"
#include "numerics/error.h"
#include "numerics/interpolation.h"

namespace zuba {

using detail::CountIs;
using detail::CountMismatch;

Outcome RadialMoments(std::span<const double> field, std::span<const double> radii, int32_t nTheta,
                      std::vector<double>& h, std::vector<double>& moments) {
  const int32_t nR = static_cast<int32_t>(radii.size());
  if (nTheta < 1 || !CountIs(field, static_cast<int64_t>(nR) * nTheta))
    return CountMismatch("Array size error!", static_cast<int64_t>(nR) * nTheta);
  moments.assign(field.size(), 0.0);
  std::vector<double> column(radii.size()), columnMoments;
  for (int32_t j = 0; j < nTheta; ++j) {
    for (int32_t iR = 0; iR < nR; ++iR) column[iR] = field[iR * nTheta + j];
    if (Outcome o = SplineSetup(radii, column, nR, h, columnMoments); !o) return o;
    for (int32_t iR = 0; iR < nR; ++iR) moments[iR * nTheta + j] = columnMoments[iR];
  }
  return {};
}

Outcome InterpolateField(double R, double theta, std::span<const double> h,
                         std::span<const double> radii, std::span<const double> azimuths,
                         std::span<const double> field, std::span<const double> moments,
                         double& B) {
  const double pi = kPi;
  const int32_t nR = static_cast<int32_t>(radii.size());
  const int32_t nTheta = static_cast<int32_t>(azimuths.size());
  if (Outcome tables = detail::CheckMapTables(h, nR, nTheta, field, moments); !tables)
    return tables;
  if (R < 0) return ErrorFailure("Negative value of R!", "R", R, 0, radii[nR - 1]);
  if (!(std::fabs(theta) <= kMaxAzimuthMagnitude))
    return ErrorFailure("Azimuth value error!", "theta", theta, -kMaxAzimuthMagnitude,
                        kMaxAzimuthMagnitude);
  const double thetaGiven = theta;
  while (theta < 0) theta += 2.0 * pi;

  const int32_t u = FindInterval(radii, R);
  if (u < 0) return ErrorFailure("Radius value error!", "R", R, radii[0], radii[nR - 1]);

  // Radial pass: the field at R on every azimuth column.
  std::vector<double> column(nR), columnMoments(nR), V(nTheta);
  for (int32_t j = 0; j < nTheta; ++j) {
    for (int32_t iR = 0; iR < nR; ++iR) {
      column[iR] = field[iR * nTheta + j];
      columnMoments[iR] = moments[iR * nTheta + j];
    }
    Outcome ok;
    if (1 <= u && u <= nR - 3) {
      ok = SplineValue(h, columnMoments, radii, column, nR, R, V[j]);
    } else if (u == 0) {
      ok = ParabolaValue(radii[0], column[0], radii[1], column[1], radii[2], column[2], R, V[j]);
    } else {
      ok = ParabolaValue(radii[nR - 3], column[nR - 3], radii[nR - 2], column[nR - 2],
                         radii[nR - 1], column[nR - 1], R, V[j]);
    }
    if (!ok) return ok;
  }

  // Bring theta into the turn of the azimuth table.
  const double delta = 2.0 * pi / nTheta;
  const double first = azimuths[0];
  const double last = azimuths[nTheta - 1];
  while (theta < first) theta += 2.0 * pi;
  while (theta >= last + delta) theta -= 2.0 * pi;

  // Extended ring: two wrapped nodes before the turn and three after it.
  const int32_t nRing = nTheta + 5;
  std::vector<double> ringX(nRing), ringY(nRing);
  ringX[0] = first - 2.0 * delta;
  ringX[1] = first - delta;
  ringY[0] = V[nTheta - 2];
  ringY[1] = V[nTheta - 1];
  for (int32_t j = 0; j < nTheta; ++j) {
    ringX[j + 2] = azimuths[j];
    ringY[j + 2] = V[j];
  }
  for (int32_t k = 0; k < 3; ++k) {
    ringX[nTheta + 2 + k] = last + (k + 1.0) * delta;
    ringY[nTheta + 2 + k] = V[k];
  }

  std::vector<double> ringH, ringM;
  if (Outcome o = SplineSetup(ringX, ringY, nRing, ringH, ringM); !o) return o;
  const int32_t f = FindInterval(ringX, theta);
  if (f < 0)
    return ErrorFailure("Azimuth value error!", "theta", thetaGiven, ringX[0], ringX[nRing - 1]);
  if (1 <= f && f <= nTheta + 2) return SplineValue(ringH, ringM, ringX, ringY, nRing, theta, B);
  if (f == 0)
    return ParabolaValue(ringX[0], ringY[0], ringX[1], ringY[1], ringX[2], ringY[2], theta, B);
  return ParabolaValue(ringX[nRing - 3], ringY[nRing - 3], ringX[nRing - 2], ringY[nRing - 2],
                       ringX[nRing - 1], ringY[nRing - 1], theta, B);
}

}  // namespace zuba
