// The runner of long jobs (see runner.h).
#include "platform/runner.h"

#include <utility>

namespace zuba {

Runner::~Runner() {
  RequestStop();
  Join();
}

bool Runner::Start(std::function<void(const StopToken&)> job) {
  if (thread_.joinable()) return false;
  stop_ = StopSource();
  returned_.store(false, std::memory_order_release);
  thread_ = std::thread([this, job = std::move(job), token = stop_.Token()] {
    job(token);
    returned_.store(true, std::memory_order_release);
  });
  ++started_;
  return true;
}

void Runner::RequestStop() {
  stop_.RequestStop();
}

void Runner::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace zuba
