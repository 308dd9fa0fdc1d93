// Memory services: advice to the system about large tables that are filled once, front to back.
#pragma once

#include <cstddef>

namespace zuba {

// Asks the system to back the range [data, data + bytes) with large pages where it can, so that
// filling a table of hundreds of megabytes takes a few hundred page faults instead of tens of
// thousands. Only whole pages inside the range are affected; pages are still allocated only when
// first written. Advice only: nothing happens where the system does not support it.
void AdviseLargeTable(void* data, std::size_t bytes);

}  // namespace zuba
