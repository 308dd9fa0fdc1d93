// Saving and loading the document of a 101-energy run: 101 orbits of 62833 samples each (the
// preset step h = 1e-4 over one turn), five sample tables of reals and the per-energy tables, about
// 254 MB on disk. Wall time (real time) is what the user waits for; the save includes the flush to
// disk and the rename, the load reads the file just written (normally from the page cache).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "numerics/constants.h"
#include "results/document.h"
#include "results/result_tables.h"

namespace zuba {
namespace {

constexpr int kEnergies = 101;
constexpr int kSamplesPerOrbit = 62833;  // nSteps + 1 for h = 1e-4 over 2 pi

// A result record shaped like the "TVK-310: p" run, with smoothly varying values.
ResultTables MakeRun() {
  const double twoPi = kTwoPi;
  ResultTables r;
  r.run = RunParameters{"examples/tvk310-p.sdf", "p", 0.6,   60.6, 0.6, 26.26, 1, 4, 0, 1,
                        1.007276466812,          0.0, twoPi, 1e-4};
  std::vector<double> ek, rmn, bmn, rev, f0, dreo;
  std::vector<double> orbitR, orbitVr, orbitTheta, orbitOmega, orbitTau;
  std::vector<int32_t> points;
  const size_t samples = static_cast<size_t>(kEnergies) * kSamplesPerOrbit;
  for (auto* v : {&orbitR, &orbitVr, &orbitTheta, &orbitOmega, &orbitTau}) v->reserve(samples);
  for (int e = 0; e < kEnergies; ++e) {
    const double radius = 0.05 + 0.0065 * e;  // m
    ek.push_back((0.6 + 0.6 * e) * (1e6 * kElementaryCharge));
    rmn.push_back(radius);
    bmn.push_back(1.72 + 1e-4 * e);
    rev.push_back(radius * 1.001);
    f0.push_back(26.26e6);
    dreo.push_back(1e-13 * e);
    points.push_back(kSamplesPerOrbit);
    for (int k = 0; k < kSamplesPerOrbit; ++k) {
      const double tau = 1e-4 * k;  // rad
      orbitR.push_back(radius * (1 + 0.01 * std::cos(4 * tau)));
      orbitVr.push_back(-0.04 * radius * std::sin(4 * tau));
      orbitTheta.push_back(tau + 0.002 * std::sin(4 * tau));
      orbitOmega.push_back(1 + 0.008 * std::cos(4 * tau));
      orbitTau.push_back(tau);
    }
  }
  r.Ek.assign(ek);
  r.Rmn.assign(rmn);
  r.Bmn.assign(bmn);
  r.Rev.assign(rev);
  r.F0.assign(f0);
  r.dReo.assign(dreo);
  r.OrbitR.assign(std::move(orbitR));
  r.OrbitVr.assign(std::move(orbitVr));
  r.OrbitTheta.assign(std::move(orbitTheta));
  r.OrbitOmega.assign(std::move(orbitOmega));
  r.OrbitTau.assign(std::move(orbitTau));
  r.OrbitPoints.assign(points);
  return r;
}

const ResultTables& Run() {
  static const ResultTables run = MakeRun();
  return run;
}

// A file in the temporary folder, removed at exit.
const std::string& DocumentPath() {
  static const std::string path = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("zuba-doc-io-bench-" + std::to_string(::getpid()) + ".zub");
    return p.string();
  }();
  static const bool cleanup = [] {
    std::atexit([] { std::filesystem::remove(DocumentPath()); });
    return true;
  }();
  (void)cleanup;
  return path;
}

void BM_SaveDocumentFile(benchmark::State& state) {
  const ResultTables& run = Run();
  for (auto _ : state) {
    const Outcome saved = SaveDocumentFile(DocumentPath(), run, 1);
    if (!saved.ok()) state.SkipWithError(saved.message().text.c_str());
  }
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(DocumentPath()));
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_SaveDocumentFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_LoadDocumentFile(benchmark::State& state) {
  const ResultTables& run = Run();
  if (!SaveDocumentFile(DocumentPath(), run, 1).ok()) {
    state.SkipWithError("the document could not be written");
    return;
  }
  Result<DocumentLoad> load = ErrorFailure("not loaded");
  for (auto _ : state) {
    load = LoadDocumentFile(DocumentPath());
    benchmark::DoNotOptimize(load);
  }
  // The loaded record must be the saved one, or the time means nothing.
  if (!load)
    state.SkipWithError(load.message().text.c_str());
  else if (!(load->results == run) || load->resultsAvailable != 1)
    state.SkipWithError("the loaded document differs from the saved record");
  const auto bytes = static_cast<int64_t>(std::filesystem::file_size(DocumentPath()));
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_LoadDocumentFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace zuba
