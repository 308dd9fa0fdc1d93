// Reset of the result record.
#include "results/result_tables.h"

#include <algorithm>
#include <cmath>

#include "platform/numbers.h"

namespace zuba {

std::vector<bool> NotAcceptedEnergies(const ResultTables& results) {
  std::vector<bool> marked(static_cast<size_t>(results.Ek.size()), false);
  if (results.closure.mode != 0) return marked;
  for (int64_t i = 0; i < results.Ek.size() && i < results.dReo.size(); ++i) {
    const double dReo = results.dReo[i];
    marked[static_cast<size_t>(i)] = dReo != kNoValue && std::fabs(dReo) > kAcceptedClosureError;
  }
  return marked;
}

bool NoEnergyHasValues(const ResultTables& results) {
  if (results.Ek.empty()) return false;
  for (int64_t i = 0; i < results.F0.size(); ++i)
    if (results.F0[i] != kNoValue) return false;
  return true;
}

void ResultTables::reset() {
  ForEachTable(*this, [](const char*, auto& table) { table.resize(0); });
  run = RunParameters{};
  closure = ClosureTables{};
  mapFile = FileStamp{};
  mapReading = MapReadingOptions{};
}

std::vector<SampleSpan> OrbitSpans(const ResultTables& r) {
  const int64_t n = r.OrbitPoints.size();
  std::vector<SampleSpan> spans(static_cast<size_t>(n));
  const int64_t held = std::min({r.OrbitR.size(), r.OrbitTheta.size(), r.OrbitVr.size()});
  const std::span<const int32_t> points = r.OrbitPoints.values();
  int64_t first = 0;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t count = points[static_cast<size_t>(i)];
    if (count < 0 || first + count > held) break;
    spans[static_cast<size_t>(i)] = SampleSpan{first, count};
    first += count;
  }
  return spans;
}

}  // namespace zuba
