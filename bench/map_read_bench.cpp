// Reading field maps as laboratories keep them: a measured-record map of 141 radii x 1080 azimuths
// (1/3 degree, B and its three derivatives per record, about 10 MB) and a polar map of 801 radii x
// 360 azimuths (about 4 MB), each written to a temporary folder first. Wall time of ReadMap,
// from the file to the FieldMap of the calculation; the target is under 0.1 s each. The *.sdf
// example map read through the same entry, for comparison.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "calc/maps/map_formats.h"
#include "numerics/constants.h"

namespace zuba {
namespace {

// B (kG) of an 8-sector field and its azimuthal derivatives.
double Field(double r, double theta, int derivative) {
  double b = derivative == 0 ? 17 + 2 * r : 0;
  for (const int h : {8, 16}) {
    const double amplitude = h == 8 ? 5 * (1 + r) : -0.4;
    b += amplitude * std::pow(h, derivative) * std::cos(h * theta + 0.7 * r + derivative * kPi / 2);
  }
  return b;
}

std::filesystem::path Folder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zuba-map-read-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  return folder;
}

std::string RecordMap() {
  const std::filesystem::path path = Folder() / "records.txt";
  if (std::filesystem::exists(path)) return path.string();
  constexpr int kRadii = 141, kAzimuths = 1080;
  std::string text =
      "100.0\n5.0\n0.0\n-3\n LABEL=BENCH\n CFELD=FIELD     NREC=  141      NPAR=    2\n";
  text +=
      " LPAR=    3      IENT=    1      IPAR=    1\n               3             141            "
      "1080\n";
  text += " LPAR=   20      IENT=    3      IPAR=    2\n BENCHMARK MAP       \n";
  char field[32];
  for (int i = 0; i < kRadii; ++i) {
    std::snprintf(field, sizeof field, "%5d", i + 1);
    text += " LREC= 4320      IENT=    2      IREC=" + std::string(field) + "\n";
    const double r = (100.0 + 5.0 * i) / 1000;
    int k = 0;
    for (int d = 0; d < 4; ++d)
      for (int j = 0; j < kAzimuths; ++j, ++k) {
        std::snprintf(field, sizeof field, "%16.9E", Field(r, j * kPi / 540, d));
        text += field;
        if (k % 5 == 4 || k + 1 == 4 * kAzimuths) text += '\n';
      }
  }
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

std::string PolarMap() {
  const std::filesystem::path path = Folder() / "polar.txt";
  if (std::filesystem::exists(path)) return path.string();
  constexpr int kRadii = 801, kAzimuths = 360;
  std::string text = "0\n1\n0\n1\n360\n801\n";
  char value[32];
  for (int i = 0; i < kRadii; ++i)
    for (int j = 0; j < kAzimuths; ++j) {
      std::snprintf(value, sizeof value, "%.8f", Field(i / 1000.0, j * kPi / 180, 0));
      text += value;
      text += j % 6 == 5 ? '\n' : ' ';
    }
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

void Read(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    Result<FieldMap> map = ReadMap(path, MapReadingOptions{});
    if (!map) {
      state.SkipWithError(map.message().text.c_str());
      return;
    }
    benchmark::DoNotOptimize(map->field.data());
  }
  state.counters["file_MB"] = std::filesystem::file_size(path) / 1e6;
}

void BM_ReadRecordMap141x1080(benchmark::State& state) {
  Read(state, RecordMap());
}
void BM_ReadPolarMap801x360(benchmark::State& state) {
  Read(state, PolarMap());
}
void BM_ReadSdfExampleMap(benchmark::State& state) {
  Read(state, std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf");
}
BENCHMARK(BM_ReadRecordMap141x1080)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPolarMap801x360)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadSdfExampleMap)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zuba
