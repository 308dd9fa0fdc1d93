// Memory advice through madvise where the system has it.
#include "platform/memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zuba {

void AdviseLargeTable(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (data == nullptr || pageSize <= 0) return;
  // The whole pages inside the range, found by offsets from data (no integer becomes a pointer).
  const auto page = static_cast<std::size_t>(pageSize);
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(data) % page;
  const std::size_t lead = misalignment == 0 ? 0 : page - misalignment;
  if (bytes <= lead) return;
  const std::size_t whole = (bytes - lead) / page * page;
  if (whole > 0) madvise(static_cast<char*>(data) + lead, whole, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace zuba
