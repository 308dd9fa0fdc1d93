// Threads of a calculation (see threads.h).
#include "platform/threads.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zuba {

int HardwareThreads() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

std::size_t LoopThreads(std::size_t n, int threads) {
  return std::min(static_cast<std::size_t>(std::max(threads, 1)), std::max<std::size_t>(n, 1));
}

bool ParallelFor(std::size_t n, int threads,
                 const std::function<bool(std::size_t worker, std::size_t i)>& body,
                 const std::function<bool()>& stop) {
  std::mutex mutex;  // guards next, ended and error
  std::size_t next = 0;
  bool ended = false;  // a stop, a body's false or an exception: no index starts any more
  std::exception_ptr error;
  auto work = [&](std::size_t worker) {
    try {
      for (;;) {
        std::size_t i = 0;
        {
          std::lock_guard lock(mutex);
          if (ended || error) return;
          // Asked also after the last index, so that a stop during the last one is seen.
          if (stop && stop()) {
            ended = true;
            return;
          }
          if (next >= n) return;
          i = next++;
        }
        if (!body(worker, i)) {
          std::lock_guard lock(mutex);
          ended = true;
          return;
        }
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!error) error = std::current_exception();
    }
  };
  const std::size_t count = LoopThreads(n, threads);
  std::vector<std::thread> helpers;
  helpers.reserve(count - 1);
  try {
    for (std::size_t t = 1; t < count; ++t) helpers.emplace_back(work, t);
  } catch (const std::system_error&) {
    // No more threads to be had: those that started share the indices.
  }
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (error) std::rethrow_exception(error);
  return !ended;
}

}  // namespace zuba
