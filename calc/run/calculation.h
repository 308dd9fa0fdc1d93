// One calculation run as an object: its record, its stop token, the thread it may run on and the
// hand-over of its results. The desktop program, the command line and the tests run the
// calculation through it; several may exist at once, each handing over into its own
// ResultsHandOver.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "calc/run/driver.h"
#include "platform/progress.h"
#include "results/hand_over.h"
#include "results/run_parameters.h"

namespace zuba {

class Calculation {
 public:
  explicit Calculation(ResultsHandOver& handOver) : handOver_(handOver) {}
  // A run still going is asked to stop and waited for: it reads this object's record.
  ~Calculation();
  Calculation(const Calculation&) = delete;
  Calculation& operator=(const Calculation&) = delete;

  // Derives and checks the run quantities, reads the field map with the reading options and fills
  // the record; on refusal the record stays as it was. Not while a run is going.
  Outcome Prepare(const RunParameters& parameters, const MapReadingOptions& mapReading = {});
  // Takes a record made elsewhere (a synthetic run of the tests). Not while a run is going.
  void SetRecord(CalculationRecord record) { record_ = std::move(record); }
  const CalculationRecord& Record() const { return record_; }

  // Runs the worker on the calling thread (and options.threads - 1 more) and returns when the run
  // has ended: completed (results handed over), failed or stopped.
  WorkerOutcome Run(ProgressSink& progress, const WorkerOptions& options);

  // Starts Run on a thread of its own; `finished` is called on that thread once the run has ended.
  // A run still going is not replaced: false. Throws std::system_error when the thread cannot be
  // created.
  bool Start(ProgressSink& progress, WorkerOptions options,
             std::function<void(WorkerOutcome)> finished = {});
  // A started run that has not been joined yet.
  bool IsRunning() const { return worker_.joinable(); }
  // The started run has ended: Join returns at once.
  bool HasFinished() const { return done_.load(std::memory_order_acquire); }
  void Join();

  // The stop token: asks the run to stop after the energies in flight. The worker clears it when
  // it obeys; the next run starts with it cleared.
  void RequestStop() { stopRequested_.store(1, std::memory_order_release); }
  void ClearStopRequest() { stopRequested_.store(0, std::memory_order_release); }
  int32_t StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

  ResultsHandOver& HandOver() { return handOver_; }

 private:
  ResultsHandOver& handOver_;
  CalculationRecord record_;  // written only while no run is going
  std::atomic<int32_t> stopRequested_{0};
  std::thread worker_;
  std::atomic<bool> done_{false};
};

}  // namespace zuba
