// Counts the bytes the program asks operator new for, so that a test can show that a damaged input
// never makes a reader allocate more than a small multiple of the input's size.
#pragma once

#include <cstddef>

namespace zuba::test {

// Bytes requested from operator new since the last reset, and the largest single request.
struct AllocationTotals {
  std::size_t total = 0;
  std::size_t largest = 0;
};

void ResetAllocations();
AllocationTotals Allocations();

}  // namespace zuba::test
