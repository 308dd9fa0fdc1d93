// The stop request of a long job: a source that asks, tokens that the job reads. Asking is one
// atomic store, so that a signal handler (Ctrl+C) may ask too.
#pragma once

#include <atomic>
#include <memory>

namespace zuba {

// What a job reads after each unit of its work (an energy, an iteration): true once a stop has
// been asked. A default token is never asked to stop.
class StopToken {
 public:
  StopToken() = default;
  bool StopRequested() const noexcept {
    return flag_ != nullptr && flag_->load(std::memory_order_acquire);
  }

 private:
  friend class StopSource;
  explicit StopToken(std::shared_ptr<const std::atomic<bool>> flag) : flag_(std::move(flag)) {}
  std::shared_ptr<const std::atomic<bool>> flag_;
};

// Asks the jobs that hold its tokens to stop. Each job gets a source of its own: a request never
// outlives the job it was meant for.
class StopSource {
 public:
  StopSource() : flag_(std::make_shared<std::atomic<bool>>(false)) {}
  void RequestStop() noexcept { flag_->store(true, std::memory_order_release); }
  bool StopRequested() const noexcept { return flag_->load(std::memory_order_acquire); }
  StopToken Token() const { return StopToken(flag_); }
  // The flag itself, for a signal handler (which may not copy the shared pointer).
  std::atomic<bool>* Flag() const noexcept { return flag_.get(); }

 private:
  std::shared_ptr<std::atomic<bool>> flag_;
};

}  // namespace zuba
