// Reset of the result record.
#include "results/result_tables.h"

#include <algorithm>

namespace zuba {

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
