// The operations that hand their failures back, with the failures shown as the desktop program and
// the command line show them: the tests see the messages the user sees.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calc/maps/field_map.h"
#include "calc/orbits/orbit.h"
#include "calc/orbits/precise_orbit.h"
#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"
#include "results/report.h"
#include "results/text.h"

namespace zuba::test {

inline ReportWrite SaveReportShown(const ResultTables& results, const std::string& path) {
  std::vector<Failure> failures;
  const ReportWrite written = SaveResultsReportFile(results, path, &failures);
  ShowFailures(failures);
  return written;
}

inline std::string FormatFixedShown(double value, int32_t decimals) {
  std::vector<Failure> failures;
  std::string text = FormatFixed(value, decimals, &failures);
  ShowFailures(failures);
  return text;
}

// The map, or nothing after its reader's message was shown.
inline std::optional<FieldMap> ReadFieldMapShown(const std::string& path) {
  Result<FieldMap> map = ReadFieldMap(path);
  if (!map) ShowFailure(map.failure());
  return std::move(map).TakeOptional();
}
inline std::optional<FieldMap> ParseFieldMapShown(std::string_view bytes) {
  Result<FieldMap> map = ParseFieldMap(bytes);
  if (!map) ShowFailure(map.failure());
  return std::move(map).TakeOptional();
}

// The run quantities, a refusal's message shown unless it is quiet.
inline Result<RunQuantities> DeriveRunQuantitiesShown(const RunParameters& parameters) {
  Result<RunQuantities> derived = DeriveRunQuantities(parameters);
  if (!derived) ShowFailure(derived.failure());
  return derived;
}

// The search of one energy with its notice and its failure shown in the order they arose; the
// flag the search gave before outcomes.
template <class Field>
int FindEquilibriumOrbitShown(const OrbitConstants& constants, const AverageFieldTables& tables,
                              const Field& field, double Ek, OrbitSamples& samples,
                              OrbitResult& result) {
  const Outcome outcome = FindEquilibriumOrbit(constants, tables, field, Ek, samples, result);
  if (result.warning) ShowMessage(*result.warning);
  return ShowOutcome(outcome);
}
inline int FindPreciseOrbitShown(const OrbitConstants& constants, const AverageFieldTables& tables,
                                 const FieldPatches& field, double Ek, OrbitSamples& samples,
                                 PreciseOrbitResult& result) {
  const Outcome outcome = FindPreciseOrbit(constants, tables, field, Ek, samples, result);
  if (result.warning) ShowMessage(*result.warning);
  return ShowOutcome(outcome);
}

// The worker with the run's messages shown as the desktop program shows them.
inline WorkerOutcome CalculationWorkerShown(CalculationRecord& record, ProgressSink& progress,
                                            std::atomic<int32_t>& stopRequested,
                                            ResultsHandOver& handOver, WorkerOptions options) {
  if (!options.report) options.report = [](const Failure& failure) { ShowFailure(failure); };
  return CalculationWorker(record, progress, stopRequested, handOver, options);
}

// Options whose run shows its messages as the desktop program shows them.
inline WorkerOptions Shown(WorkerOptions options = {}) {
  options.report = [](const Failure& failure) { ShowFailure(failure); };
  return options;
}

}  // namespace zuba::test
