// The precise closure on the eight-sector ring example (examples/ring-590.json: 260 energies from
// 72 to 590 MeV on a 146 x 720 map) and on the proton example with its trim coils:
//   - Ring/Loop: the energy loop of `zuba-cli run --machine examples/ring-590.json` on one thread,
//     every energy through CloseOrbits from its start estimates (CPU time of one loop);
//   - Ring/Warm and Tvk/Warm: the same energies closed again on the map's field changed by a
//     smooth bump of the mean field (1e-4 of the field at the orbits, as one step of isochronise or
//     trim-fit changes it), each seeded with its closed orbit of the unchanged field;
//   - Ring/Prepare: what the run does before the loop (moments, average field, field patches);
//   - Ring/TwoTurns/0 and /1: the turn with the tunes of the closed orbit at 300 MeV and the first
//     turn of the next energy's (from the closed orbit at 302 MeV), one after the other (0) and
//     stage by stage in turn (1), as the loop makes them.
// Counters: ms_per_energy (CPU), turns_per_energy and, where the closure reports them, the
// integration steps per turn.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "calc/orbits/closed_orbits.h"
#include "calc/orbits/precise_orbit.h"
#include "calc/orbits/precise_turn.h"
#include "calc/run/driver.h"
#include "calc/run/machine_file.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_quantities.h"
#include "numerics/field_patches.h"
#include "numerics/kinematics.h"
#include "numerics/units.h"

namespace zuba {
namespace {

// A run prepared up to its energy loop, and its field with a smooth bump of the mean field.
struct PreparedExample {
  SharedRun run;
  OrbitInputs inputs;
  std::optional<FieldPatches> patches;
  std::vector<double> bumpedField;
  OrbitInputs bumpedInputs;
  std::optional<FieldPatches> bumpedPatches;

  explicit PreparedExample(const RunParameters& p, const MapReadingOptions& reading = {}) {
    Result<SharedRun> made = PrepareCalculation(p, reading);
    if (!made) std::abort();
    run = *made;
    const PreparedRun& r = *run;
    Prepare(r, r.field, inputs, patches);
    // 1e-4 of the mean field at the middle of the radii, a Gaussian over a third of them.
    const double middle = 0.5 * (r.radii.front() + r.radii.back());
    const double width = (r.radii.back() - r.radii.front()) / 6;
    double mean = 0;
    for (int32_t j = 0; j < r.nTheta; ++j)
      mean += std::fabs(r.field[static_cast<size_t>(r.nR / 2) * r.nTheta + j]);
    mean /= r.nTheta;
    bumpedField = r.field;
    for (int32_t i = 0; i < r.nR; ++i) {
      const double x = (r.radii[i] - middle) / width;
      for (int32_t j = 0; j < r.nTheta; ++j)
        bumpedField[static_cast<size_t>(i) * r.nTheta + j] += 1e-4 * mean * std::exp(-0.5 * x * x);
    }
    Prepare(r, bumpedField, bumpedInputs, bumpedPatches);
  }

  static void Prepare(const PreparedRun& r, std::span<const double> field, OrbitInputs& inputs,
                      std::optional<FieldPatches>& patches) {
    Result<OrbitInputs> made = PrepareOrbitInputs(r, field);
    if (!made) std::abort();
    inputs = std::move(*made);
    patches = FieldPatches::Build(inputs.radialSteps, r.radii, r.azimuths, field, inputs.moments)
                  .TakeOptional();
    if (!patches) std::abort();
  }
};

const PreparedExample& Ring() {
  static const PreparedExample example = [] {
    const Result<Machine> machine = ReadMachineFile(ZUBA_EXAMPLES_DIR "/ring-590.json");
    if (!machine) std::abort();
    return PreparedExample(machine->run, machine->mapReading);
  }();
  return example;
}

const PreparedExample& Tvk() {
  static const PreparedExample example = [] {
    RunParameters p;
    ApplyPreset(kModeTvk310, p);
    p.Path = ZUBA_EXAMPLES_DIR "/tvk310-p-disturbed.sdf";
    return PreparedExample(p);
  }();
  return example;
}

// The integration steps of a result, where the closure counts them.
template <class Result>
int64_t StepsOf(const Result& r) {
  if constexpr (requires { r.steps; })
    return r.steps;
  else
    return 0;
}

// Adds the counters of a batch's results to the running sums.
struct Tally {
  int64_t energies = 0, turns = 0, steps = 0;
  void Add(const ClosedOrbits& closed) {
    for (const PreciseOrbitResult& r : closed.energies) {
      ++energies;
      turns += r.iterations;
      steps += StepsOf(r);
    }
  }
  void Report(benchmark::State& state) const {
    const double n = static_cast<double>(energies);
    state.counters["ms_per_energy"] =
        benchmark::Counter(n * 1e-3, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["turns_per_energy"] = static_cast<double>(turns) / n;
    if (steps > 0) state.counters["steps_per_turn"] = static_cast<double>(steps) / turns;
  }
};

void Loop(benchmark::State& state, const PreparedExample& (*example)()) {
  const PreparedExample& run = example();
  ClosedOrbitsOptions options;
  Tally tally;
  for (auto _ : state) {
    const ClosedOrbits closed = CloseOrbits(run.inputs.constants, run.inputs.tables(), *run.patches,
                                            run.run->Ek, {}, options);
    tally.Add(closed);
  }
  tally.Report(state);
}

void Warm(benchmark::State& state, const PreparedExample& (*example)()) {
  const PreparedExample& run = example();
  ClosedOrbitsOptions options;
  std::vector<std::optional<OrbitStart>> seeds;
  for (const PreciseOrbitResult& r : CloseOrbits(run.inputs.constants, run.inputs.tables(),
                                                 *run.patches, run.run->Ek, {}, options)
                                         .energies)
    if (r.status == ClosureStatus::Converged)
      seeds.emplace_back(OrbitStart{r.Rs, r.vRs, r.thetaS});
    else
      seeds.emplace_back();
  Tally tally;
  for (auto _ : state) {
    const ClosedOrbits closed = CloseOrbits(run.bumpedInputs.constants, run.bumpedInputs.tables(),
                                            *run.bumpedPatches, run.run->Ek, seeds, options);
    tally.Add(closed);
  }
  tally.Report(state);
}

void Prepare(benchmark::State& state) {
  const PreparedExample& run = Ring();
  for (auto _ : state) {
    OrbitInputs inputs;
    std::optional<FieldPatches> field;
    PreparedExample::Prepare(*run.run, run.run->field, inputs, field);
    benchmark::DoNotOptimize(field);
  }
}

void TwoTurns(benchmark::State& state) {
  const PreparedExample& run = Ring();
  const OrbitConstants& constants = run.inputs.constants;
  std::vector<precise_detail::TurnOrder> orders;
  for (const double MeV : {300.0, 302.0}) {
    const double Ek = MeVToJoules(MeV);
    OrbitSamples samples;
    const PreciseOrbitResult r =
        FindPreciseOrbit(constants, run.inputs.tables(), *run.patches, Ek, samples);
    if (r.status != ClosureStatus::Converged) std::abort();
    const Kinematics k = KinematicsOf(Ek, constants.E0);
    orders.push_back({k.E, k.beta * constants.rInfinity, r.Rs, r.vRs, r.thetaS});
  }
  precise_detail::TurnResult full, first;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      full.outcome = precise_detail::TrackTurn(
          constants, *run.patches, orders[0].E, orders[0].V, orders[0].Rs, orders[0].vRs,
          orders[0].thetaS, full.path, full.turn, full.steps, precise_detail::TurnAccuracy::Full);
      first.outcome =
          precise_detail::TrackTurn(constants, *run.patches, orders[1].E, orders[1].V, orders[1].Rs,
                                    orders[1].vRs, orders[1].thetaS, first.path, first.turn,
                                    first.steps, precise_detail::TurnAccuracy::Orbit);
    } else {
      precise_detail::TrackTurnsInTurn(constants, *run.patches, orders[0], 0, full, orders[1],
                                       first);
    }
    benchmark::DoNotOptimize(full.turn);
    benchmark::DoNotOptimize(first.turn);
  }
  if (!full.outcome || !first.outcome) std::abort();
  state.counters["steps_full"] = static_cast<double>(full.turn.steps);
  state.counters["steps_first"] = static_cast<double>(first.turn.steps);
}

BENCHMARK_CAPTURE(Loop, Ring, Ring)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(Warm, Ring, Ring)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(Loop, Tvk, Tvk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(Warm, Tvk, Tvk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Prepare)->Unit(benchmark::kMillisecond);
BENCHMARK(TwoTurns)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zuba
