// Reset of the result record and the process-wide hand-over.
#include "results/result_tables.h"

namespace zuba {

ResultTables LatestResults;
std::atomic<int32_t> ResultsAvailable{0};
std::atomic<int32_t> TransferPending{0};

void ResultTables::reset() {
  ForEachTable(*this, [](const char*, auto& table) { table.resize(0); });
  run = RunParameters{};
  closure = ClosureTables{};
}

void HandOverResults(ResultTables results) {
  LatestResults = std::move(results);
  ResultsAvailable.store(1, std::memory_order_release);
  TransferPending.store(1, std::memory_order_release);
}

}  // namespace zuba
