// The prepared run (see prepared_run.h).
#include "calc/run/prepared_run.h"

#include <cmath>
#include <utility>

#include "calc/maps/map_formats.h"
#include "calc/run/run_quantities.h"
#include "numerics/average_field.h"
#include "numerics/field_interpolation.h"
#include "numerics/kinematics.h"

namespace zuba {

Result<SharedRun> PrepareCalculation(const RunParameters& parameters,
                                     const MapReadingOptions& mapReading) {
  Result<RunQuantities> derived = DeriveRunQuantities(parameters);
  if (!derived) return derived.outcome();
  FileStamp stamp;
  Result<FieldMap> map = ReadMap(parameters.Path, mapReading, stamp);
  if (!map) return map.outcome();

  RunQuantities& q = *derived;
  auto run = std::make_shared<PreparedRun>();
  run->run = parameters;
  run->mapReading = mapReading;
  run->mapReading.format = map->format;  // the reader that read it, also when chosen by content
  run->mapFile = stamp;
  run->mapUnit = map->unit;
  run->nR = map->nR;
  run->nTheta = map->nTheta;
  run->thetaStart = map->thetaStart;
  run->thetaEnd = map->thetaEnd;
  run->radii = std::move(map->radii);
  run->azimuths = std::move(map->azimuths);
  run->field = std::move(map->field);
  FormMoments(*run);
  run->T0 = parameters.T0;
  run->TIs = parameters.TIs;
  run->h = parameters.h;
  run->rfFrequency = q.rfFrequency;
  run->charge = q.charge;
  run->restMass = q.restMass;
  run->n = q.n;
  run->Ek = std::move(q.Ek);
  return SharedRun(std::move(run));
}

void FormMoments(PreparedRun& run) {
  if (!RadialMoments(run.field, run.radii, run.nTheta, run.radialSteps, run.moments)) {
    // The run that needs them fails with the reason (PrepareFieldTables).
    run.radialSteps.clear();
    run.moments.clear();
  }
}

int64_t SampleCapacity(double T0, double TIs, double h) {
  const double ratio = (TIs - T0) / h;
  if (!(h > 0) || !(ratio >= 0 && ratio <= kMaxSampleCapacity)) return -1;
  int64_t nSteps = static_cast<int64_t>(std::round((TIs - T0) / h));
  double s = T0;
  for (int64_t i = 0; i < nSteps; ++i) s = s + h;
  if (s < TIs) {
    while (s < TIs) {
      s = s + h;
      ++nSteps;
    }
  } else if (s > TIs) {
    while (s > TIs) {
      s = s - h;
      --nSteps;
    }
    ++nSteps;
  }
  return nSteps;
}

void UnwrapHarmonicPhase(std::vector<double>& psi, int32_t N) {
  const double period = kTwoPi / N;  // rad
  for (std::size_t i = 1; i < psi.size(); ++i) {
    while (psi[i] - psi[i - 1] > period / 2) psi[i] -= period;
    while (psi[i] - psi[i - 1] < -period / 2) psi[i] += period;
  }
}

Result<FieldTables> PrepareFieldTables(const PreparedRun& run, std::span<const double> field) {
  FieldTables out;
  // Radial spline moments of every azimuth column; the radial steps serve the field.
  const bool ownField = field.data() == run.field.data() && field.size() == run.field.size();
  if (ownField && !run.moments.empty() && run.moments.size() == run.field.size()) {
    out.radialSteps = run.radialSteps;
    out.moments = run.moments;
  } else if (Outcome o = RadialMoments(field, run.radii, run.nTheta, out.radialSteps, out.moments);
             !o) {
    return o;
  }

  // Average-field tables.
  if (Outcome o = AverageFieldParameters(field, run.radii, run.run.N, run.thetaStart, run.thetaEnd,
                                         run.nTheta, out.v, out.epsilon, out.psi);
      !o)
    return o;
  // The phase of the N-th harmonic comes in [-pi/N, pi/N]; where spiral hills turn it past the
  // end of that range it jumps by a whole period 2 pi/N, and an interpolation across the jump would
  // start orbits anywhere. Whole periods are added back so that the phase follows the hills (a
  // start one period on lies on the same closed orbit).
  UnwrapHarmonicPhase(out.psi, run.run.N);
  return out;
}

Result<OrbitConstants> RunConstants(const PreparedRun& run) {
  const double c = kSpeedOfLight;  // m/s
  OrbitConstants constants;
  constants.E0 = RestEnergy(run.restMass);                          // J
  constants.invOmega0 = run.run.H / (kTwoPi * run.rfFrequency);     // s/rad
  constants.rInfinity = c * constants.invOmega0;                    // m
  constants.K = std::pow(c, 2) * run.charge * constants.invOmega0;  // C*m^2/s
  constants.N = run.run.N;
  constants.h = run.h;
  constants.T0 = run.T0;
  constants.nSteps = SampleCapacity(run.T0, run.TIs, run.h);
  if (constants.nSteps < 0)
    return ErrorFailure(
        "Integration step h too small: one turn would take more than 50000000 steps!", "h", run.h,
        (run.TIs - run.T0) / kMaxSampleCapacity);
  return constants;
}

Result<OrbitInputs> PrepareOrbitInputs(const PreparedRun& run, std::span<const double> field) {
  Result<FieldTables> tables = PrepareFieldTables(run, field.empty() ? run.field : field);
  if (!tables) return tables.outcome();
  Result<OrbitConstants> constants = RunConstants(run);
  if (!constants) return constants.outcome();
  OrbitInputs inputs;
  static_cast<FieldTables&>(inputs) = std::move(*tables);
  inputs.constants = *constants;
  inputs.radii = run.radii;
  return inputs;
}

}  // namespace zuba
