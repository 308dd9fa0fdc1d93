// Maps built in memory for the precise-closure tests, prepared as the worker prepares a run.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "calc/driver.h"
#include "calc/precise_orbit.h"
#include "numerics/field_patches.h"
#include "tests/orbit/test_support.h"
#include "tests/shown.h"

namespace zuba::test {

// The ideal revolution of the "TVK-310: p" preset: omega0 (rad/s), B0 = m omega0 / |q| (T) and
// R_inf = c / omega0 (m), from first principles.
struct Ideal {
  double omega0, B0, rInfinity, mass, charge;
  Ideal() {
    const double twoPi = 8 * std::atan(1.0);
    omega0 = twoPi * 26.26e6 / 1;
    mass = 1.007276466812 * kKilogramsPerSamu;
    charge = kElementaryCharge;
    B0 = mass * omega0 / charge;
    rInfinity = kSpeedOfLight / omega0;
  }
  double Gamma(double R) const { return 1 / std::sqrt(1 - (R / rInfinity) * (R / rInfinity)); }
};

// A run of the preset on a map of B, prepared up to the energy loop, with the fast field.
struct PreparedMap {
  CalculationRecord record;
  PreparedRun prepared;
  std::optional<FieldPatches> patches;

  PreparedMap(double h, const MapShape& shape, const std::function<double(double, double)>& B,
              int32_t sectors = 4) {
    record = MakeRecord(kModeTvk310, h, 1, 2, 1, shape, B);
    record.run.N = sectors;
    if (!ShowOutcome(PrepareRun(record, prepared))) return;
    patches = FieldPatches::Build(prepared.radialSteps, record.radii, record.azimuths, record.field,
                                  record.moments)
                  .TakeOptional();
  }
  bool ok() const { return patches.has_value(); }

  int Find(double ekMeV, OrbitSamples& samples, PreciseOrbitResult& result) const {
    return test::FindPreciseOrbitShown(prepared.constants, prepared.tables(), *patches,
                                       ekMeV * 1e6 * kElementaryCharge, samples, result);
  }
};

inline double GammaOfMeV(double ekMeV) {
  const double m = 1.007276466812 * kKilogramsPerSamu;
  return 1 + ekMeV * 1e6 * kElementaryCharge / (m * kSpeedOfLight * kSpeedOfLight);
}

}  // namespace zuba::test
