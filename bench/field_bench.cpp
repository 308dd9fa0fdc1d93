// The field evaluation B(R, θ) on a 71 × 180 four-sector map (0.05 … 0.75 m, 2° steps, values
// rounded to 1e-5 T as the map reader stores them): the per-call spline evaluation against the
// precomputed patches, on the same sequence of points along a spiralling track (as an orbit
// visits them: neighbouring cells, azimuth running past the end of the turn).
#include <benchmark/benchmark.h>

#include <cmath>
#include <optional>
#include <vector>

#include "numerics/constants.h"
#include "numerics/field_interpolation.h"
#include "numerics/field_patches.h"

namespace zuba {
namespace {

struct BenchMap {
  std::vector<double> radii, azimuths, field, h, moments;
  std::optional<FieldPatches> patches;
  std::vector<double> trackR, trackTheta;  // m, rad

  BenchMap() {
    const double twoPi = kTwoPi;
    const int nR = 71, nTheta = 180;
    for (int i = 0; i < nR; ++i) radii.push_back(0.05 + 0.01 * i);
    for (int j = 0; j < nTheta; ++j) azimuths.push_back(twoPi * j / nTheta);
    for (double R : radii)
      for (double theta : azimuths)
        field.push_back(std::round((1.45 + 0.08 * R * R +
                                    0.3 * std::tanh(8 * R) * std::cos(4 * theta - 3 * R)) *
                                   1e5) *
                        1e-5);
    if (!RadialMoments(field, radii, nTheta, h, moments)) std::abort();
    patches = FieldPatches::Build(h, radii, azimuths, field, moments).TakeOptional();
    // 4096 points of a track spiralling out over two turns, with the orbit's wobble.
    for (int k = 0; k < 4096; ++k) {
      const double theta = -0.3 + 2.2 * twoPi * k / 4096.0;  // rad
      trackTheta.push_back(theta);
      trackR.push_back(0.1 + 0.6 * k / 4096.0 + 0.004 * std::sin(4 * theta));
    }
  }
};

const BenchMap& Map() {
  static const BenchMap map;
  return map;
}

void BM_InterpolateField(benchmark::State& state) {
  const BenchMap& m = Map();
  std::size_t k = 0;
  for (auto _ : state) {
    double B = 0;
    benchmark::DoNotOptimize(InterpolateField(m.trackR[k], m.trackTheta[k], m.h, m.radii,
                                              m.azimuths, m.field, m.moments, B));
    benchmark::DoNotOptimize(B);
    k = (k + 1) & 4095;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InterpolateField);

void BM_FieldPatchesEvaluate(benchmark::State& state) {
  const BenchMap& m = Map();
  std::size_t k = 0;
  for (auto _ : state) {
    double B = 0;
    benchmark::DoNotOptimize(m.patches->Evaluate(m.trackR[k], m.trackTheta[k], B));
    benchmark::DoNotOptimize(B);
    k = (k + 1) & 4095;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FieldPatchesEvaluate);

void BM_FieldPatchesEvaluateWithDerivatives(benchmark::State& state) {
  const BenchMap& m = Map();
  std::size_t k = 0;
  for (auto _ : state) {
    double B = 0, dBdR = 0, dBdTheta = 0;
    benchmark::DoNotOptimize(
        m.patches->EvaluateWithDerivatives(m.trackR[k], m.trackTheta[k], B, dBdR, dBdTheta));
    benchmark::DoNotOptimize(B);
    benchmark::DoNotOptimize(dBdR);
    benchmark::DoNotOptimize(dBdTheta);
    k = (k + 1) & 4095;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FieldPatchesEvaluateWithDerivatives);

// The once-per-run cost of the patches (after the radial moments).
void BM_FieldPatchesBuild(benchmark::State& state) {
  const BenchMap& m = Map();
  for (auto _ : state) {
    auto patches = FieldPatches::Build(m.h, m.radii, m.azimuths, m.field, m.moments).TakeOptional();
    benchmark::DoNotOptimize(patches);
  }
}
BENCHMARK(BM_FieldPatchesBuild)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zuba
