// Synthetic field maps for the numerics tests: radius-major tables over a uniform polar mesh.
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "numerics/field_interpolation.h"

namespace zuba::testing {

inline const double kPi = 4.0 * std::atan(1.0);

struct TestMap {
  std::vector<double> radii;     // m
  std::vector<double> azimuths;  // rad
  std::vector<double> field;     // T, entry iR·nTheta + iTheta
  std::vector<double> h;         // radial steps (m)
  std::vector<double> moments;   // radial moments (T/m²)
  int nR() const { return static_cast<int>(radii.size()); }
  int nTheta() const { return static_cast<int>(azimuths.size()); }
};

// nR radii from r0 with step dr, nTheta azimuths from theta0 with step 2π/nTheta, field f(R, θ),
// radial moments prepared as the calculation does.
inline TestMap MakeMap(int nR, double r0, double dr, int nTheta, double theta0,
                       const std::function<double(double, double)>& f) {
  TestMap map;
  const double delta = 2.0 * kPi / nTheta;
  for (int i = 0; i < nR; ++i) map.radii.push_back(r0 + i * dr);
  for (int j = 0; j < nTheta; ++j) map.azimuths.push_back(theta0 + j * delta);
  for (int i = 0; i < nR; ++i)
    for (int j = 0; j < nTheta; ++j) map.field.push_back(f(map.radii[i], map.azimuths[j]));
  ShowOutcome(RadialMoments(map.field, map.radii, nTheta, map.h, map.moments));
  return map;
}

}  // namespace zuba::testing
