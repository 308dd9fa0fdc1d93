// Threads of a calculation: the machine's thread count and the one parallel loop over the
// energies (the standard search's energy loop, the batch of precise closures).
#pragma once

#include <cstddef>
#include <functional>

namespace zuba {

// The threads the machine runs at once (at least 1).
int HardwareThreads();

// Calls body(worker, i) for every i of 0 .. n-1 on `threads` threads (the calling thread is worker
// 0; at most n threads, at least one), each index once, the indices started in increasing order.
// Before an index starts, stop() is asked (one thread at a time, under the loop's lock); when it
// says true, or a body has returned false, no further index starts and the indices in flight
// finish. An exception of a body ends the loop likewise; it is rethrown on the calling thread once
// every thread has ended. Returns true when every index ran and none asked to stop.
bool ParallelFor(std::size_t n, int threads,
                 const std::function<bool(std::size_t worker, std::size_t i)>& body,
                 const std::function<bool()>& stop = {});

// The thread count ParallelFor uses for n indices.
std::size_t LoopThreads(std::size_t n, int threads);

}  // namespace zuba
