// Field maps and calculation records built in memory for the orbit and worker tests, and the
// textbook relations of a charged particle in a uniform field that the tests compare against.
#pragma once

#include <cmath>
#include <functional>
#include <string>

#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_quantities.h"

namespace zuba::test {

// A field map of nR radius nodes from 0 to rMax (m) and nTheta azimuth nodes over one turn.
struct MapShape {
  int32_t nR = 101;
  double rMax = 1.0;  // m
  int32_t nTheta = 36;
};

// Fills the record's map from B(R, theta) (T) on the given mesh.
inline void FillMap(PreparedRun& record, const MapShape& shape,
                    const std::function<double(double, double)>& B) {
  const double twoPi = 8 * std::atan(1.0);
  record.nR = shape.nR;
  record.nTheta = shape.nTheta;
  record.radii.clear();
  record.azimuths.clear();
  for (int32_t i = 0; i < shape.nR; ++i) record.radii.push_back(shape.rMax * i / (shape.nR - 1));
  for (int32_t j = 0; j < shape.nTheta; ++j) record.azimuths.push_back(twoPi * j / shape.nTheta);
  record.field.assign(static_cast<size_t>(shape.nR) * shape.nTheta, 0.0);
  record.moments.assign(record.field.size(), 0.0);
  for (int32_t i = 0; i < shape.nR; ++i)
    for (int32_t j = 0; j < shape.nTheta; ++j)
      record.field[i * shape.nTheta + j] = B(record.radii[i], record.azimuths[j]);
  record.thetaStart = 0;
  record.thetaEnd = twoPi;
}

// A near-uniform field: B_u (T) with an N-fold flutter of relative amplitude `flutter`.
inline std::function<double(double, double)> NearUniform(double Bu, int32_t N,
                                                         double flutter = 1e-4) {
  return [=](double, double theta) { return Bu * (1 + flutter * std::cos(N * theta)); };
}

// A record for the preset of `mode` with integration step h and energies from ekBegin to ekEnd in
// steps of dEk (MeV), on a map built from B.
inline PreparedRun MakeRecord(const char* mode, double h, double ekBegin, double ekEnd, double dEk,
                              const MapShape& shape,
                              const std::function<double(double, double)>& B) {
  RunParameters p;
  ApplyPreset(mode, p);
  p.Path = "in-memory map";
  p.h = h;
  p.EkBegin = ekBegin;
  p.EkEnd = ekEnd;
  p.dEk = dEk;
  Result<RunQuantities> derived = DeriveRunQuantities(p);
  PreparedRun r;
  if (!derived) return r;
  const RunQuantities& q = *derived;
  r.T0 = p.T0;
  r.TIs = p.TIs;
  r.h = p.h;
  r.rfFrequency = q.rfFrequency;
  r.charge = q.charge;
  r.restMass = q.restMass;
  r.n = q.n;
  r.run = p;
  r.Ek = q.Ek;
  FillMap(r, shape, B);
  FormMoments(r);
  return r;
}

// Textbook values for kinetic energy Ek (J), rest mass m (kg), charge q (C) in a field B (T),
// with this program's speed of light.
struct FreeParticle {
  double gamma, momentum;  // 1, kg m/s
  FreeParticle(double Ek, double m) {
    const double c = kSpeedOfLight;
    gamma = 1 + Ek / (m * c * c);
    momentum = m * c * std::sqrt(gamma * gamma - 1);
  }
  double CyclotronFrequency(double q, double B, double m) const {  // Hz
    return std::fabs(q) * B / (8 * std::atan(1.0) * gamma * m);
  }
  double GyroRadius(double q, double B) const { return momentum / (std::fabs(q) * B); }  // m
};

}  // namespace zuba::test
