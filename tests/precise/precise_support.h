// Maps built in memory for the precise-closure tests, prepared as the worker prepares a run.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <utility>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/driver.h"
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
  PreparedRun record;
  OrbitInputs prepared;
  std::optional<FieldPatches> patches;

  PreparedMap(double h, const MapShape& shape, const std::function<double(double, double)>& B,
              int32_t sectors = 4) {
    record = MakeRecord(kModeTvk310, h, 1, 2, 1, shape, B);
    record.run.N = sectors;
    Prepare();
  }
  explicit PreparedMap(PreparedRun made) : record(std::move(made)) { Prepare(); }
  void Prepare() {
    FormMoments(record);  // the map may have been changed since it was made
    if (!test::PrepareOrbitInputsShown(record, prepared)) return;
    patches = FieldPatches::Build(prepared.radialSteps, record.radii, record.azimuths, record.field,
                                  prepared.moments)
                  .TakeOptional();
  }
  bool ok() const { return patches.has_value(); }

  void Find(double ekMeV, OrbitSamples& samples, PreciseOrbitResult& result) const {
    test::FindPreciseOrbitShown(prepared.constants, prepared.tables(), *patches,
                                ekMeV * 1e6 * kElementaryCharge, samples, result);
  }
};

// An 8-sector separated-sector proton ring (Frf 50.65 MHz, H = 6, h = 1e-3) on radii 1.9 .. 4.7 m
// in nR steps and nTheta azimuths: soft-edged hills over 30 % of each sector whose field rises with
// gamma(R) (about 2 T at the top), valleys of -0.003 T, and the pole's outer edge near 4.55 m,
// where the field falls off. The default estimate of the start radius does not settle above about
// 400 MeV; the closed orbits end below 570 MeV, where the falling field cannot hold the ion.
inline PreparedRun RingRecord(double ekBegin, double ekEnd, double dEk, int32_t nR = 71,
                              int32_t nTheta = 180) {
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = "in-memory ring";
  p.Frf = 50.65;
  p.H = 6;
  p.N = 8;
  p.h = 1e-3;
  p.EkBegin = ekBegin;
  p.EkEnd = ekEnd;
  p.dEk = dEk;
  PreparedRun r;
  const Result<RunQuantities> q = DeriveRunQuantities(p);
  if (!q) return r;
  r.T0 = p.T0;
  r.TIs = p.TIs;
  r.h = p.h;
  r.rfFrequency = q->rfFrequency;
  r.charge = q->charge;
  r.restMass = q->restMass;
  r.n = q->n;
  r.run = p;
  r.Ek = q->Ek;
  const double twoPi = 8 * std::atan(1.0), sector = twoPi / 8, fraction = 0.3;
  const double omega0 = twoPi * p.Frf * 1e6 / p.H;
  const double B0 = q->restMass * omega0 / kElementaryCharge, rInfinity = kSpeedOfLight / omega0;
  FillMap(r, MapShape{nR, 1.0, nTheta}, [&](double, double) { return 0.0; });
  for (int32_t i = 0; i < nR; ++i) r.radii[i] = 1.9 + 2.8 * i / (nR - 1);
  for (int32_t i = 0; i < nR; ++i) {
    const double R = r.radii[i], x = R / rInfinity;
    const double hill = B0 / std::sqrt(1 - x * x) / fraction;
    const double poleEdge = 0.5 * (1 - std::tanh((R - 4.55) / 0.06));
    for (int32_t j = 0; j < nTheta; ++j) {
      const double phi = std::remainder(r.azimuths[j], sector);  // rad from the hill centre
      const double shape = 0.5 * (std::tanh((fraction * sector / 2 - std::fabs(phi)) / 0.02) + 1);
      r.field[i * nTheta + j] = hill * shape * poleEdge - 0.003;
    }
  }
  FormMoments(r);
  return r;
}

inline double GammaOfMeV(double ekMeV) {
  const double m = 1.007276466812 * kKilogramsPerSamu;
  return 1 + ekMeV * 1e6 * kElementaryCharge / (m * kSpeedOfLight * kSpeedOfLight);
}

}  // namespace zuba::test
