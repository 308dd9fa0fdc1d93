// The replaced global operator new/delete of the reliability tests: plain malloc and free, with
// the requested sizes counted.
#include "tests/reliability/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> gTotal{0};
std::atomic<std::size_t> gLargest{0};

void* Allocate(std::size_t size) {
  gTotal.fetch_add(size, std::memory_order_relaxed);
  std::size_t seen = gLargest.load(std::memory_order_relaxed);
  while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // both sides use malloc and free
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
#pragma GCC diagnostic pop

namespace zuba::test {

void ResetAllocations() {
  gTotal.store(0);
  gLargest.store(0);
}

AllocationTotals Allocations() {
  return {gTotal.load(), gLargest.load()};
}

}  // namespace zuba::test
