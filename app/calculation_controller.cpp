// The calculation commands of the desktop program (see calculation_controller.h).
#include "app/calculation_controller.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

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

bool PrepareRunShown(Calculation& calculation, const RunParameters& parameters,
                     const MapReadingOptions& mapReading, ControllerServices& services) {
  Outcome prepared;
  try {
    prepared = calculation.Prepare(parameters, mapReading);
  } catch (const std::bad_alloc&) {
    // A map too large for the memory: the command ends like any other refusal.
    ShowMessage("Not enough memory for the field map!", "Error", Icon::Error, Owner::View);
    return false;
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
    return false;
  }
  return true;
}

CCalculationController::CCalculationController(ControllerServices& services, CZUBAView& view,
                                               QObject* parent)
    : QObject(parent), services_(services), view_(view), calculation_(view.HandOver()) {
  connect(&view_, &CZUBAView::stopRequested, this, [this] { calculation_.RequestStop(); });
}

CCalculationController::~CCalculationController() {
  StopAndWaitForWorker();
}

bool CCalculationController::CanSaveResultsReport() const {
  return view_.HandOver().ResultsAvailable.load(std::memory_order_acquire) != 0;
}

void CCalculationController::SaveResultsReport() {
  const ResultTables& results = view_.ViewResults();
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
  std::vector<Failure> failures;
  SaveResultsReportFile(results, path, &failures);
  ShowFailures(failures);  // "Unable to open file for saving!" when the file cannot be written
}

void CCalculationController::OnCalculateEquilibriumOrbits() {
  // One run at a time: the running worker reads the record that this command would refill.
  if (IsCalculationRunning()) return;
  calculation_.ClearStopRequest();
  if (view_.GetDocument() == nullptr) return;

  std::string label, machineFile;
  if (!services_.RunModeDialog(label, machineFile)) return;
  if (!StartParameters(label, machineFile)) return;
  if (!services_.RunInputDataDialog(inputData_, mapReading_, gainPerTurnMeV_)) return;

  if (!PrepareRunShown(calculation_, inputData_, mapReading_, services_)) return;
  // An implausible run (Frf, H, N, ChargeSign or energies that do not fit the map) is named before
  // it starts; the user may run it anyway.
  const std::vector<std::string> warnings = RunWarnings(calculation_.Record());
  if (!warnings.empty()) {
    std::string note;
    for (const std::string& warning : warnings) note += (note.empty() ? "" : "  ") + warning;
    services_.ShowStatusNote(note);
    if (!services_.ConfirmRunWarnings(warnings)) return;
  }

  // Results of an earlier run that no paint has taken over yet go to the document now, so that the
  // new worker's hand-over never meets a reader of LatestResults.
  view_.TransferPendingResults();

  WorkerOptions options;
  options.threads = RunThreadCount();
  options.closure = closure_;
  options.gainPerTurnMeV = gainPerTurnMeV_;
  // A failure that has no box of its own ends the run with a note on the status bar.
  options.report = [this](const Failure& failure) {
    if (!failure.quiet) {
      ShowMessage(failure.message);
      return;
    }
    QMetaObject::invokeMethod(
        this, [this, text = failure.message.text] { services_.ShowStatusNote(text); },
        Qt::QueuedConnection);
  };
  // The notes of a run of the default search (accuracy, inner edge) go on the status bar (no box),
  // one after the other on its one line.
  auto notes = std::make_shared<std::string>();
  options.accuracyNote = [this, notes](const std::string& line) {
    *notes += (notes->empty() ? "" : "  ") + line;
    QMetaObject::invokeMethod(
        this, [this, text = *notes] { services_.ShowStatusNote(text); }, Qt::QueuedConnection);
  };
  options.requestRepaint = [this] {
    QMetaObject::invokeMethod(
        &view_, [this] { view_.update(); }, Qt::QueuedConnection);
  };
  const uint64_t run = ++runId_;
  try {
    calculation_.Start(services_.Progress(), options, [this, run](WorkerOutcome outcome) {
      QMetaObject::invokeMethod(
          this, [this, run, outcome] { OnWorkerFinished(run, outcome); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error& e) {
    errno = e.code().value();
    ReportSystemError("CreateThread");
    return;
  }
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

void CCalculationController::OnWorkerFinished(uint64_t run, WorkerOutcome outcome) {
  // Already joined by StopAndWaitForWorker (perhaps a later run is going on by now).
  if (run != runId_ || !calculation_.IsRunning()) return;
  calculation_.Join();
  if (outcome != WorkerOutcome::Completed) NoteRunEndedEarly(outcome);
  emit calculationRunning(false);
}

void CCalculationController::NoteRunEndedEarly(WorkerOutcome outcome) {
  const CalculationRecord& record = calculation_.Record();
  // The energy it ended at: the one whose failure ended a run of the default search, else the
  // highest energy done.
  int64_t at = record.failedEnergy;
  for (size_t i = 0; at < 0 && i < record.energyStatus.size(); ++i)
    if (record.energyStatus[record.energyStatus.size() - 1 - i] >= 0)
      at = static_cast<int64_t>(record.energyStatus.size() - 1 - i);
  const bool stopped = outcome == WorkerOutcome::Stopped;
  std::string ended = stopped ? "the last run stopped" : "the last run failed";
  if (at >= 0 && at < std::ssize(record.Ek))
    ended += " at " +
             FormatNumber(JoulesToMeV(record.Ek[static_cast<size_t>(at)]), Significant(6)) + " MeV";
  const bool shown = view_.HandOver().ResultsAvailable.load(std::memory_order_acquire) != 0;
  const std::string note = shown ? "results of the previous run; " + ended : ended;
  services_.SetLastRunNote(note);
  std::string status = note;
  status[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(status[0])));
  status += '.';
  if (!stopped && record.failedEnergy >= 0 && closure_ == ClosureMode::Standard)
    status += " " + std::string(kPreciseClosureDesktopHint);
  services_.ShowStatusNote(status);
}

void CCalculationController::StopAndWaitForWorker() {
  if (!calculation_.IsRunning()) return;
  calculation_.RequestStop();
  services_.SetWorkerDetached(true);
  if (!calculation_.HasFinished()) {
    // Wait with the event loop running: a progress request or a message of the worker that is
    // already on its way to this thread is carried out (as a no-op) instead of blocking both.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (calculation_.HasFinished()) loop.quit();
    });
    poll.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  // The worker's end may have been handled (and the thread joined) inside the loop above.
  const bool joinedHere = calculation_.IsRunning();
  if (joinedHere) calculation_.Join();
  services_.SetWorkerDetached(false);
  if (joinedHere) emit calculationRunning(false);
}

}  // namespace zuba
