// The progress bar as the calculation sees it: four synchronous requests, as a progress control
// takes them. Each returns only after it has been carried out.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zuba {

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void setRange(int32_t low, int32_t high) = 0;
  virtual void setStep(int32_t step) = 0;
  virtual void setPos(int32_t position) = 0;
  virtual void stepIt() = 0;
};

// Ignores every request (quiet command-line runs).
class NullProgress : public ProgressSink {
 public:
  void setRange(int32_t, int32_t) override {}
  void setStep(int32_t) override {}
  void setPos(int32_t) override {}
  void stepIt() override {}
};

// Keeps the state of a progress control and a log of the requests, "range 0 101", "step 1",
// "pos 0", "stepit" (tests).
class RecordingProgress : public ProgressSink {
 public:
  void setRange(int32_t low, int32_t high) override;
  void setStep(int32_t step) override;
  void setPos(int32_t position) override;
  void stepIt() override;

  std::vector<std::string> log() const;
  int32_t position() const;
  int32_t stepCount() const;  // number of stepIt requests

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  int32_t low_ = 0, high_ = 100, step_ = 10, position_ = 0, steps_ = 0;
};

}  // namespace zuba
