// Reset of the result record.
#include "results/result_tables.h"

namespace zuba {

void ResultTables::reset() {
  ForEachTable(*this, [](const char*, auto& table) { table.resize(0); });
  run = RunParameters{};
  closure = ClosureTables{};
  mapFile = FileStamp{};
  mapReading = MapReadingOptions{};
}

}  // namespace zuba
