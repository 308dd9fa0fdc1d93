// One trial orbit of the equilibrium-orbit search (a full turn with the preset step h = 1e-4) on a
// 71 x 180 four-sector map, with the precomputed field patches and with the per-call routine.
// The counter ns_per_step is the cost of one integration step: field evaluation, four RK4 stages
// and the sample store.
#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>

#include "calc/orbits/orbit.h"
#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace {

// The preset "TVK-310: p" on an isochronous four-sector map of 71 radii (0 .. 0.7 m) and 180
// azimuths: mean field gamma(R) * B0, flutter 0.1.
struct BenchRun {
  PreparedRun record;
  OrbitInputs prepared;
  std::optional<FieldPatches> patches;
  double E = 0;  // J, total energy of the benchmarked orbit

  BenchRun() {
    RunParameters p;
    ApplyPreset(kModeTvk310, p);
    p.Path = "in-memory map";
    const RunQuantities q = *DeriveRunQuantities(p);
    const double twoPi = kTwoPi;
    const double omega0 = twoPi * q.rfFrequency / p.H;            // rad/s
    const double B0 = q.restMass * omega0 / std::fabs(q.charge);  // T
    const double rInfinity = kSpeedOfLight / omega0;              // m
    record.nR = 71;
    record.nTheta = 180;
    for (int i = 0; i < record.nR; ++i) record.radii.push_back(0.01 * i);
    for (int j = 0; j < record.nTheta; ++j) record.azimuths.push_back(twoPi * j / record.nTheta);
    for (int i = 0; i < record.nR; ++i) {
      const double x = record.radii[i] / rInfinity;
      const double mean = B0 / std::sqrt(1 - x * x);
      for (int j = 0; j < record.nTheta; ++j)
        record.field.push_back(mean * (1 + 0.1 * std::cos(4 * record.azimuths[j])));
    }
    record.moments.assign(record.field.size(), 0.0);
    record.thetaStart = 0;
    record.thetaEnd = twoPi;
    record.T0 = p.T0;
    record.TIs = p.TIs;
    record.h = p.h;
    record.rfFrequency = q.rfFrequency;
    record.charge = q.charge;
    record.restMass = q.restMass;
    record.n = q.n;
    record.run = p;
    record.Ek = q.Ek;
    FormMoments(record);
    Result<OrbitInputs> inputs = PrepareOrbitInputs(record);
    if (!inputs) std::abort();
    prepared = std::move(*inputs);
    patches = FieldPatches::Build(prepared.radialSteps, record.radii, record.azimuths, record.field,
                                  prepared.moments)
                  .TakeOptional();
    if (!patches) std::abort();
    E = record.Ek[50] + prepared.constants.E0;  // 30.6 MeV
  }
};

const BenchRun& Run() {
  static const BenchRun run;
  return run;
}

template <class Field>
void TrialOrbit(benchmark::State& state, const Field& field) {
  const BenchRun& run = Run();
  const double pc = std::sqrt(std::pow(run.E, 2) - std::pow(run.prepared.constants.E0, 2));
  const double Rs = run.prepared.constants.rInfinity * (pc / run.E);  // m, near the orbit
  OrbitSamples samples;
  samples.Reserve(static_cast<size_t>(run.prepared.constants.nSteps) + 1);
  double tauTurn = 0, dr = 0;
  int64_t steps = 0;
  for (auto _ : state) {
    if (!TrackTrial(run.prepared.constants, run.prepared.tables(), field, run.E, Rs, samples,
                    tauTurn, dr))
      state.SkipWithError("trial failed");
    benchmark::DoNotOptimize(dr);
    steps += static_cast<int64_t>(samples.Size()) - 1;
  }
  // Seconds per (1e-9 steps) = nanoseconds per step.
  state.counters["ns_per_step"] = benchmark::Counter(
      static_cast<double>(steps) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_TrialOrbitFieldPatches(benchmark::State& state) {
  TrialOrbit(state, *Run().patches);
}
BENCHMARK(BM_TrialOrbitFieldPatches)->Unit(benchmark::kMillisecond);

void BM_TrialOrbitReferenceField(benchmark::State& state) {
  const BenchRun& run = Run();
  const ReferenceField field(run.prepared.radialSteps, run.record.radii, run.record.azimuths,
                             run.record.field, run.prepared.moments);
  TrialOrbit(state, field);
}
BENCHMARK(BM_TrialOrbitReferenceField)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace zuba
