// The recording progress sink used by tests.
#include "platform/progress.h"

#include <algorithm>

namespace zuba {

void RecordingProgress::setRange(int32_t low, int32_t high) {
  std::lock_guard lock(mutex_);
  low_ = low;
  high_ = high;
  log_.push_back("range " + std::to_string(low) + " " + std::to_string(high));
}

void RecordingProgress::setStep(int32_t step) {
  std::lock_guard lock(mutex_);
  step_ = step;
  log_.push_back("step " + std::to_string(step));
}

void RecordingProgress::setPos(int32_t position) {
  std::lock_guard lock(mutex_);
  position_ = std::clamp(position, low_, high_);
  log_.push_back("pos " + std::to_string(position));
}

void RecordingProgress::stepIt() {
  std::lock_guard lock(mutex_);
  // A progress control wraps to the start of its range when a step passes the end.
  position_ += step_;
  if (position_ > high_) position_ = low_ + (position_ - high_);
  ++steps_;
  log_.push_back("stepit");
}

std::vector<std::string> RecordingProgress::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

int32_t RecordingProgress::position() const {
  std::lock_guard lock(mutex_);
  return position_;
}

int32_t RecordingProgress::stepCount() const {
  std::lock_guard lock(mutex_);
  return steps_;
}

}  // namespace zuba
