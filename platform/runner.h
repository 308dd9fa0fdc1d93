// The runner of long jobs (a calculation run, an isochronisation, a coil fit): one job at a time on
// a thread of its own, with a stop token. The job delivers what it made itself, by value (the
// desktop program posts it to its window in one queued call, the command line keeps it); the
// runner never waits on anyone but the job: stopping is a request and a join.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/stop.h"

namespace zuba {

class Runner {
 public:
  Runner() = default;
  // A job still going is asked to stop and waited for.
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Runs job(stop) on a new thread with a stop token of its own. False (nothing started) while an
  // earlier job has not been joined. Throws std::system_error when no thread can be made.
  bool Start(std::function<void(const StopToken&)> job);
  // Asks the running job to stop after the unit of work it is in.
  void RequestStop();
  // Waits until the job has returned and its thread has ended; at once when none was started.
  void Join();
  // A job was started and has not been joined.
  bool Busy() const { return thread_.joinable(); }
  // The job has returned (its thread is ending; Join will not wait for the job).
  bool JobReturned() const { return returned_.load(std::memory_order_acquire); }
  // How many jobs were started (to tell the job of a call from a later one; the starting thread's).
  uint64_t Started() const { return started_; }

 private:
  std::thread thread_;
  uint64_t started_ = 0;
  StopSource stop_;
  std::atomic<bool> returned_{false};
};

}  // namespace zuba
