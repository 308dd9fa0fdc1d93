// The calculation commands of the desktop program (see calculation_controller.h).
#include "app/calculation_controller.h"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "app/queued_job.h"
#include "calc/run/machine_file.h"
#include "calc/run/run_quantities.h"
#include "platform/message.h"
#include "platform/threads.h"
#include "results/report.h"

namespace zuba {

int RunThreadCount() {
  return HardwareThreads();
}

SharedRun PrepareRunShown(const RunParameters& parameters, const MapReadingOptions& mapReading,
                          ControllerServices& services) {
  Result<SharedRun> prepared = Failure{};
  try {
    prepared = PrepareCalculation(parameters, mapReading);
  } catch (const std::bad_alloc&) {
    // A map too large for the memory: the command ends like any other refusal.
    ShowMessage("Not enough memory for the field map!", "Error", Icon::Error, Owner::View);
    return nullptr;
  }
  if (!prepared) {
    // A basic check of the parameters refuses quietly: a note on the status bar.
    if (prepared.failure().quiet)
      services.ShowStatusNote(prepared.message().text);
    else
      ShowMessage(prepared.message());
    return nullptr;
  }
  return std::move(*prepared);
}

void ShowRunMessages(const std::vector<Failure>& messages, ControllerServices& services) {
  for (const Failure& failure : messages) {
    // A failure that has no box of its own ends the run with a note on the status bar.
    if (failure.quiet)
      services.ShowStatusNote(failure.message.text);
    else
      ShowMessage(failure.message);
  }
}

CCalculationController::CCalculationController(ControllerServices& services, CZUBAView& view,
                                               QObject* parent)
    : QObject(parent), services_(services), view_(view) {
  connect(&view_, &CZUBAView::stopRequested, this, [this] { runner_.RequestStop(); });
}

CCalculationController::~CCalculationController() {
  StopAndWaitForWorker();
}

bool CCalculationController::CanSaveResultsReport() const {
  return services_.ResultsShown();
}

void CCalculationController::SaveResultsReport() {
  const ResultTables& results = services_.ShownResults();
  const int64_t n = results.Ek.size();
  if (results.Rmn.size() != n || results.Bmn.size() != n || results.Rev.size() != n ||
      results.F0.size() != n || results.dReo.size() != n) {
    return;
  }
  const std::string path = services_.AskReportPath();
  if (path.empty()) {
    ShowMessage("Unable to open file name for saving!", "Error", Icon::Error, Owner::View);
    return;
  }
  const ReportSaving saved = SaveResultsReportFile(results, path);
  ShowFailures(saved.leftOut);
  // "Unable to open file for saving!" when the file cannot be written.
  if (!saved.outcome) ShowMessage(saved.outcome.message());
}

void CCalculationController::OnCalculateEquilibriumOrbits() {
  // One run at a time, and not before the last one's results have reached the window.
  if (IsCalculationRunning()) return;

  std::string label, machineFile;
  if (!services_.RunModeDialog(label, machineFile)) return;
  if (!StartParameters(label, machineFile)) return;
  if (!services_.RunInputDataDialog(inputData_, mapReading_)) return;

  SharedRun run = PrepareRunShown(inputData_, mapReading_, services_);
  if (!run) return;
  run_ = run;

  WorkerOptions options;
  options.threads = RunThreadCount();
  options.closure = closure_;
  options.gainPerTurnMeV = gainPerTurnMeV_;
  ProgressSink& progress = services_.Progress();
  const uint64_t id = ++runId_;
  try {
    const bool started = StartQueued<CalculationOutput>(
        runner_, relay_,
        [run, options, &progress](const StopToken& stop) {
          return RunCalculation(*run, options, progress, stop);
        },
        [this, id](CalculationOutput output) { OnRunFinished(id, std::move(output)); });
    if (!started) return;  // the runner still holds a run (not possible past the check above)
  } catch (const std::system_error& e) {
    errno = e.code().value();
    ReportSystemError("CreateThread");
    return;
  }
  running_ = true;
  emit calculationRunning(true);
}

bool CCalculationController::StartParameters(const std::string& label,
                                             const std::string& machineFile) {
  gainPerTurnMeV_ = kDefaultGainPerTurnMeV;
  if (machineFile.empty()) {
    if (!ApplyPreset(label, inputData_)) return false;
    // Every opening starts from the preset, with an empty path: the map is read as it is until
    // the dialog's Map Options... say otherwise.
    mapReading_ = MapReadingOptions{};
    return true;
  }
  // The file as it reads now (it may have changed since the Mode dialog listed it).
  const Result<Machine> machine = ReadMachineFile(machineFile);
  if (!machine) {
    ShowMessage(machine.message().text, "Error", Icon::Error, Owner::View);
    return false;
  }
  inputData_ = machine->run;
  mapReading_ = machine->mapReading;
  if (machine->gainPerTurnMeV) gainPerTurnMeV_ = *machine->gainPerTurnMeV;
  if (machine->closure) {
    closure_ = *machine->closure;
    emit closureChosen(closure_);
  }
  return true;
}

void CCalculationController::OnRunFinished(uint64_t run, CalculationOutput output) {
  // A run given up by StopAndWaitForWorker: nothing of it is shown.
  if (run != runId_ || !running_) return;
  running_ = false;
  // The run's messages in the order the run gave them, then its results.
  ShowRunMessages(output.messages, services_);
  if (output.outcome == WorkerOutcome::Completed) {
    services_.TakeRunResults(std::move(output.results), run_);
    // The accuracy line of a run of the default search goes on the status bar (no box).
    if (output.accuracyNote) services_.ShowStatusNote(*output.accuracyNote);
  }
  emit calculationRunning(false);
}

void CCalculationController::StopAndWaitForWorker() {
  if (!running_) return;
  runner_.RequestStop();
  // The run posts to this thread and never waits for it: a plain join ends.
  runner_.Join();
  ++runId_;  // what the run posted is dropped
  running_ = false;
  emit calculationRunning(false);
}

}  // namespace zuba
