// The parallel loop of the calculation: every index once whatever the thread count, a stop or a
// body's refusal ends it after the indices in flight, an exception comes back to the caller.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zuba {
namespace {

using namespace std::chrono_literals;

TEST(ParallelFor, RunsEveryIndexOnceOnAnyNumberOfThreads) {
  for (int threads : {1, 2, 3, 8}) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{5}, size_t{200}}) {
      std::vector<std::atomic<int>> calls(n);
      std::mutex mutex;
      std::set<size_t> workers;
      const bool complete = ParallelFor(n, threads, [&](size_t worker, size_t i) {
        calls[i].fetch_add(1);
        std::lock_guard lock(mutex);
        workers.insert(worker);
        return true;
      });
      EXPECT_TRUE(complete);
      for (size_t i = 0; i < n; ++i) EXPECT_EQ(calls[i].load(), 1) << threads << " " << i;
      // The workers are numbered from 0 and there are no more of them than indices or threads.
      for (size_t w : workers) EXPECT_LT(w, LoopThreads(n, threads));
    }
  }
  EXPECT_EQ(LoopThreads(0, 4), 1u);
  EXPECT_EQ(LoopThreads(3, 8), 3u);
  EXPECT_EQ(LoopThreads(10, 0), 1u);
  EXPECT_GE(HardwareThreads(), 1);
}

TEST(ParallelFor, AStopOrABodysFalseStartsNoFurtherIndex) {
  for (int threads : {1, 3}) {
    // The stop asked before each index: after index 4 has finished no index starts; the ones in
    // flight (at most one a thread) finish.
    std::atomic<int> finished{0}, highest{-1};
    const bool complete = ParallelFor(
        100, threads,
        [&](size_t, size_t i) {
          int seen = highest.load();
          while (static_cast<int>(i) > seen &&
                 !highest.compare_exchange_weak(seen, static_cast<int>(i))) {
          }
          finished.fetch_add(1);
          return true;
        },
        [&] { return finished.load() >= 5; });
    EXPECT_FALSE(complete);
    EXPECT_GE(finished.load(), 5);
    EXPECT_LT(highest.load(), 5 + threads) << threads;
    // A stop during the last index is seen.
    std::atomic<bool> stop{false};
    EXPECT_FALSE(ParallelFor(
        3, threads,
        [&](size_t, size_t i) {
          if (i == 2) stop = true;
          return true;
        },
        [&] { return stop.load(); }));
    // A body that returns false ends the loop likewise, long before the last index.
    std::atomic<int> calls{0};
    EXPECT_FALSE(ParallelFor(200, threads, [&](size_t, size_t i) {
      calls.fetch_add(1);
      if (i != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return i != 0;
    }));
    EXPECT_LT(calls.load(), 200);
  }
}

TEST(ParallelFor, RethrowsTheExceptionOfABodyAfterEveryThreadHasEnded) {
  for (int threads : {1, 4}) {
    std::atomic<int> running{0}, calls{0};
    std::atomic<bool> thrown{false};
    EXPECT_THROW(ParallelFor(1000, threads,
                             [&](size_t, size_t i) {
                               running.fetch_add(1);
                               calls.fetch_add(1);
                               if (i == 3) {
                                 running.fetch_sub(1);
                                 thrown = true;
                                 throw std::runtime_error("energy 3");
                               }
                               // The indices after it wait for the throw and take a while, so
                               // that the others cannot finish the loop while the thread of
                               // index 3 is descheduled on a loaded machine.
                               if (i > 3) {
                                 const auto until = std::chrono::steady_clock::now() + 10s;
                                 while (!thrown && std::chrono::steady_clock::now() < until)
                                   std::this_thread::yield();
                                 std::this_thread::sleep_for(1ms);
                               }
                               running.fetch_sub(1);
                               return true;
                             }),
                 std::runtime_error);
    EXPECT_EQ(running.load(), 0);  // nothing runs on after the call returned
    EXPECT_LT(calls.load(), 1000);
  }
}

}  // namespace
}  // namespace zuba
