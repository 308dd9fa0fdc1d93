// The hand-over of a completed run (see hand_over.h).
#include "results/hand_over.h"

#include <utility>

namespace zuba {

void ResultsHandOver::HandOverResults(ResultTables results) {
  LatestResults = std::move(results);
  ResultsAvailable.store(1, std::memory_order_release);
  TransferPending.store(1, std::memory_order_release);
}

void ResultsHandOver::Reset() {
  LatestResults.reset();
  ResultsAvailable.store(0, std::memory_order_release);
  TransferPending.store(0, std::memory_order_release);
}

}  // namespace zuba
