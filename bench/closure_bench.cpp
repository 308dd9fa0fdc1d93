// Cost per energy of the two closures on the example maps: the default step-and-bisect search
// against the precise Newton closure (with its one-turn matrices and tunes), both with the
// precomputed field patches and the preset step h = 1e-4. Each iteration closes the orbits of
// eleven energies spread over the preset's range; the counter s_per_energy is the cost of one
// (CPU time) and turns_per_energy the turns integrated. The Batch cases close the same energies
// through CloseOrbits, cold and seeded with closed orbits of the same field.
// The target: the precise closure costs at most 8 times the default per energy.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/example_map.h"
#include "calc/orbits/closed_orbits.h"
#include "calc/orbits/precise_orbit.h"
#include "calc/run/driver.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace {

struct ExampleRun : ExampleMap {
  std::vector<double> energies;  // J

  ExampleRun(const char* mode, const char* file) : ExampleMap(mode, file) {
    for (int32_t i = 0; i < record.n; i += (record.n - 1) / 10) energies.push_back(record.Ek[i]);
  }
};

const ExampleRun& Tvk() {
  static const ExampleRun run(kModeTvk310, "tvk310-p.sdf");
  return run;
}
const ExampleRun& Avf() {
  static const ExampleRun run(kModeAvf14N5, "avf-14n5.sdf");
  return run;
}

void Closure(benchmark::State& state, const ExampleRun& (*example)(), bool precise) {
  const ExampleRun& run = example();
  OrbitSamples samples;
  int64_t turns = 0;
  for (auto _ : state) {
    for (double ek : run.energies) {
      if (precise) {
        const PreciseOrbitResult result = FindPreciseOrbit(
            run.prepared.constants, run.prepared.tables(), *run.patches, ek, samples);
        turns += result.iterations;
        benchmark::DoNotOptimize(result.F0);
      } else {
        OrbitResult result;
        if (!FindEquilibriumOrbit(run.prepared.constants, run.prepared.tables(), *run.patches, ek,
                                  samples, result))
          std::abort();
        turns += result.trials;
        benchmark::DoNotOptimize(result.F0);
      }
    }
  }
  const double energies = static_cast<double>(state.iterations() * run.energies.size());
  state.counters["s_per_energy"] =
      benchmark::Counter(energies, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["turns_per_energy"] = static_cast<double>(turns) / energies;
}

// The same eleven energies through CloseOrbits on one thread, started cold (as a run starts) or
// seeded with the closed orbits of a first batch on the same field (as a re-closure after a small
// change of the field starts).
void Batch(benchmark::State& state, const ExampleRun& (*example)(), bool warm) {
  const ExampleRun& run = example();
  ClosedOrbitsOptions options;
  std::vector<std::optional<OrbitStart>> seeds;
  if (warm) {
    for (const PreciseOrbitResult& r : CloseOrbits(run.prepared.constants, run.prepared.tables(),
                                                   *run.patches, run.energies, {}, options)
                                           .energies)
      seeds.push_back(OrbitStart{r.Rs, r.vRs, r.thetaS});
  }
  int64_t turns = 0;
  for (auto _ : state) {
    const ClosedOrbits closed = CloseOrbits(run.prepared.constants, run.prepared.tables(),
                                            *run.patches, run.energies, seeds, options);
    for (const PreciseOrbitResult& r : closed.energies) {
      if (r.status != ClosureStatus::Converged) std::abort();
      turns += r.iterations;
    }
  }
  const double energies = static_cast<double>(state.iterations() * run.energies.size());
  state.counters["s_per_energy"] =
      benchmark::Counter(energies, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["turns_per_energy"] = static_cast<double>(turns) / energies;
}

BENCHMARK_CAPTURE(Closure, TvkDefault, Tvk, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Closure, TvkPrecise, Tvk, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Closure, AvfDefault, Avf, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Closure, AvfPrecise, Avf, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Batch, TvkCold, Tvk, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Batch, TvkWarm, Tvk, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Batch, AvfCold, Avf, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Batch, AvfWarm, Avf, true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zuba
