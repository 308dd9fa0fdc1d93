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

// How a report was written, as the tests tell it from the outcome.
enum class ReportWritten { Written, TablesUnequal, CannotOpen };

// The report written, the numbers left out and a failure shown as the desktop program shows them
// (tables of unequal length quietly).
inline ReportWritten SaveReportShown(const ResultTables& results, const std::string& path) {
  const ReportSaving saved = SaveResultsReportFile(results, path);
  ShowFailures(saved.leftOut);
  if (saved.outcome) return ReportWritten::Written;
  if (saved.outcome.failure().subject == "tables") return ReportWritten::TablesUnequal;
  ShowMessage(saved.outcome.message());
  return ReportWritten::CannotOpen;
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
// The precise closure of one energy with its notice shown.
inline void FindPreciseOrbitShown(const OrbitConstants& constants, const AverageFieldTables& tables,
                                  const FieldPatches& field, double Ek, OrbitSamples& samples,
                                  PreciseOrbitResult& result) {
  result = FindPreciseOrbit(constants, tables, field, Ek, samples);
  if (result.warning) ShowMessage(*result.warning);
}

// A run with its messages shown as the desktop program shows them after the run.
inline CalculationOutput RunShown(const PreparedRun& run, ProgressSink& progress,
                                  const WorkerOptions& options = {}, const StopToken& stop = {}) {
  CalculationOutput output = RunCalculation(run, options, progress, stop);
  for (const Failure& failure : output.messages) ShowFailure(failure);
  return output;
}

// A run made in memory, its moments formed for its field as it is now, to be shared.
inline SharedRun Share(PreparedRun run) {
  FormMoments(run);
  return std::make_shared<const PreparedRun>(std::move(run));
}

// The orbit inputs of the run's own field, a failure shown; 1 when made.
inline int PrepareOrbitInputsShown(const PreparedRun& run, OrbitInputs& inputs) {
  Result<OrbitInputs> made = PrepareOrbitInputs(run);
  if (!made) return ShowOutcome(made.outcome());
  inputs = std::move(*made);
  return 1;
}

}  // namespace zuba::test
