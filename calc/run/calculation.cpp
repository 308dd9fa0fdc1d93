// One calculation run as an object (see calculation.h).
#include "calc/run/calculation.h"

#include <exception>
#include <string>
#include <utility>

namespace zuba {

Calculation::~Calculation() {
  if (worker_.joinable()) {
    RequestStop();
    worker_.join();
  }
}

Outcome Calculation::Prepare(const RunParameters& parameters, const MapReadingOptions& mapReading) {
  return PrepareCalculation(parameters, record_, mapReading);
}

WorkerOutcome Calculation::Run(ProgressSink& progress, const WorkerOptions& options) {
  return CalculationWorker(record_, progress, stopRequested_, handOver_, options);
}

bool Calculation::Start(ProgressSink& progress, WorkerOptions options,
                        std::function<void(WorkerOutcome)> finished) {
  if (worker_.joinable()) return false;
  done_.store(false, std::memory_order_release);
  worker_ =
      std::thread([this, &progress, options = std::move(options), finished = std::move(finished)] {
        WorkerOutcome outcome = WorkerOutcome::Failed;
        try {
          outcome = Run(progress, options);
        } catch (const std::exception& e) {
          // A failure outside the energy loop (memory for the average-field tables): the run ends
          // without results, as any failed run.
          if (options.report)
            options.report(ErrorFailure(std::string("The calculation failed: ") + e.what()));
        }
        if (finished) finished(outcome);
        done_.store(true, std::memory_order_release);
      });
  return true;
}

void Calculation::Join() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace zuba
