// The C++ cost of what one zuba.run call of the Python module does, without the module: the
// prepared run of a map already read (PrepareCalculation on the map) and RunCalculation on one
// thread, for two energies and for eleven, with both closures. bench/python-bench.py times the same
// calls from Python; the difference is what the module adds to a call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "calc/maps/map_formats.h"
#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "calc/run/run_quantities.h"

namespace zuba {
namespace {

void PrepareAndRun(benchmark::State& state, ClosureMode closure) {
  const std::string path = std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf";
  FileStamp stamp;
  Result<FieldMap> map = ReadMap(path, {}, stamp);
  if (!map) std::abort();
  RunParameters p;
  ApplyPreset(kModeTvk310, p);
  p.Path = path;
  p.EkEnd = p.EkBegin + static_cast<double>(state.range(0) - 1) * p.dEk;
  WorkerOptions options;
  options.threads = 1;
  options.closure = closure;
  NullProgress progress;
  for (auto _ : state) {
    Result<SharedRun> run = PrepareCalculation(p, *map, {}, stamp);
    if (!run) std::abort();
    CalculationOutput out = RunCalculation(**run, options, progress);
    if (out.outcome != WorkerOutcome::Completed) std::abort();
    benchmark::DoNotOptimize(out.results.F0.values().data());
  }
}

BENCHMARK_CAPTURE(PrepareAndRun, Standard, ClosureMode::Standard)
    ->Arg(2)
    ->Arg(11)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(PrepareAndRun, Precise, ClosureMode::Precise)
    ->Arg(2)
    ->Arg(11)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace zuba
