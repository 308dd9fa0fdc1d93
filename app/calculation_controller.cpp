// The calculation commands of the desktop program (see calculation_controller.h).
#include "app/calculation_controller.h"

#include <cctype>
#include <cerrno>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "app/queued_job.h"
#include "calc/run/machine_file.h"
#include "calc/run/run_checks.h"
#include "calc/run/run_quantities.h"
#include "numerics/units.h"
#include "platform/message.h"
#include "platform/numbers.h"
#include "platform/threads.h"
#include "results/report.h"

namespace zuba {

// What the status bar adds after a run of the default search that a failing energy ended.
constexpr const char* kPreciseClosureDesktopHint =
    "The precise closure (Calculate > Precise Closed Orbits) closes each energy on its own and "
    "keeps the others.";

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
    // A basic check of the parameters refuses quietly: a note on the status bar. A refused map
    // file keeps the text of its box; the note names the file.
    if (prepared.failure().quiet)
      services.ShowStatusNote(prepared.message().text);
    else
      ShowMessage(prepared.message());
    if (!prepared.failure().file.empty())
      services.ShowStatusNote(TextNamingFile(prepared.failure()));
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
  if (!services_.RunInputDataDialog(inputData_, mapReading_, gainPerTurnMeV_)) return;

  SharedRun run = PrepareRunShown(inputData_, mapReading_, services_);
  if (!run) return;
  // An implausible run (Frf, H, N, ChargeSign or energies that do not fit the map) is named before
  // it starts; the user may run it anyway.
  const std::vector<std::string> warnings = RunWarnings(*run);
  if (!warnings.empty()) {
    std::string note;
    for (const std::string& warning : warnings) note += (note.empty() ? "" : "  ") + warning;
    services_.ShowStatusNote(note);
    if (!services_.ConfirmRunWarnings(warnings)) return;
  }
  run_ = run;

  WorkerOptions options;
  options.threads = RunThreadCount();
  options.closure = closure_;
  options.tolerance = tolerance_;
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
  if (machine->tolerance) {
    tolerance_ = *machine->tolerance;
    emit toleranceChosen(tolerance_);
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
    // The notes of a run of the default search (accuracy, inner edge) go on the status bar (no
    // box), one after the other on its one line.
    std::string notes;
    for (const std::string& line : output.notes) notes += (notes.empty() ? "" : "  ") + line;
    if (!notes.empty()) services_.ShowStatusNote(notes);
  } else {
    NoteRunEndedEarly(output);
  }
  emit calculationRunning(false);
}

void CCalculationController::NoteRunEndedEarly(const CalculationOutput& output) {
  const std::vector<double>& energies = run_->Ek;
  // The energy it ended at: the one whose failure ended a run of the default search, else the
  // highest energy done.
  int64_t at = output.failedEnergy;
  for (size_t i = 0; at < 0 && i < output.energyStatus.size(); ++i)
    if (output.energyStatus[output.energyStatus.size() - 1 - i] >= 0)
      at = static_cast<int64_t>(output.energyStatus.size() - 1 - i);
  const bool stopped = output.outcome == WorkerOutcome::Stopped;
  std::string ended = stopped ? "the last run stopped" : "the last run failed";
  if (at >= 0 && at < std::ssize(energies))
    ended += " at " + FormatNumber(JoulesToMeV(energies[static_cast<size_t>(at)]), Significant(6)) +
             " MeV";
  const bool shown = services_.ResultsShown();
  const std::string note = shown ? "results of the previous run; " + ended : ended;
  services_.SetLastRunNote(note);
  std::string status = note;
  status[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(status[0])));
  status += '.';
  if (!stopped && output.failedEnergy >= 0 && closure_ == ClosureMode::Standard)
    status += " " + std::string(kPreciseClosureDesktopHint);
  services_.ShowStatusNote(status);
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
