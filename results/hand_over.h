// The hand-over of one run's results from the calculation to the document and the view that show
// them. The calculation completes LatestResults, then sets ResultsAvailable, then TransferPending
// (release); the reader takes LatestResults only after it found TransferPending set (acquire).
// Each window (or command-line run) owns one; several may exist at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "results/result_tables.h"

namespace zuba {

struct ResultsHandOver {
  ResultTables LatestResults;                // the last completed run's record
  std::atomic<int32_t> ResultsAvailable{0};  // 1 while the shown record holds results
  std::atomic<int32_t> TransferPending{0};   // 1 from the hand-over until a reader took it

  // The calculation's end of a completed run: LatestResults := results, ResultsAvailable := 1,
  // TransferPending := 1, in this order.
  void HandOverResults(ResultTables results);
  // Empties LatestResults and clears both flags.
  void Reset();
};

}  // namespace zuba
