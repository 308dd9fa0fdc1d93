// The calculation commands of the desktop program: Calculate > Equilibrium Orbits... (the two
// dialogs, the checks and the field map, then the run on the window's runner), the stop request of
// a double click in the view, stopping when the document goes, and Calculate > Save As... (the text
// report of the results shown). A run posts its progress without waiting and hands what it made to
// the window in one queued call when it ends: its results, notices and failures by value.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/queued_job.h"
#include "calc/orbits/precise_orbit.h"
#include "calc/run/diagnostics.h"
#include "calc/run/driver.h"
#include "calc/run/prepared_run.h"
#include "graph/view.h"
#include "platform/progress.h"
#include "platform/runner.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

namespace zuba {

// The threads a run closes its orbits on: one per core of the machine.
int RunThreadCount();

// What the commands need of the application around them.
class ControllerServices {
 public:
  virtual ~ControllerServices() = default;
  // Runs the Mode dialog modally; true with the chosen label after OK, and the machine file of a
  // machine chosen (empty for a preset).
  virtual bool RunModeDialog(std::string& modeLabel, std::string& machineFile) = 0;
  // Runs the Input Data dialog modally on parameters, the map-reading options and the gain per
  // turn of the phase slip (MeV); true after Enter, with all three updated.
  virtual bool RunInputDataDialog(RunParameters& parameters, MapReadingOptions& mapReading,
                                  double& gainPerTurnMeV) = 0;
  // Shows the warnings of an implausible run in one message box with "Run anyway" and "Cancel";
  // true to run anyway.
  virtual bool ConfirmRunWarnings(const std::vector<std::string>& warnings) = 0;
  // What the window shows besides the results after a run that failed or stopped ("the last run
  // stopped at 480 MeV"); empty once results of a later run, or another document, are shown.
  virtual void SetLastRunNote(const std::string& note) = 0;
  // The progress bar as the run drives it (requests from any thread, never waited for).
  virtual ProgressSink& Progress() = 0;
  // The save-file chooser of the report; an empty text when no file name was chosen.
  virtual std::string AskReportPath() = 0;
  // A short note on the status bar (a run refused by a silent parameter check, the accuracy line of
  // a run of the default search).
  virtual void ShowStatusNote(const std::string& text) = 0;
  // The results of a completed run, with the run they were computed from (its map for the views).
  virtual void TakeRunResults(ResultTables results, const SharedRun& run) = 0;
  // The results shown and whether there are any.
  virtual const ResultTables& ShownResults() const = 0;
  virtual bool ResultsShown() const = 0;
};

// Prepares a run from the parameters and the map-reading options; a refusal is shown (a quiet one
// as a status-bar note) and gives null.
SharedRun PrepareRunShown(const RunParameters& parameters, const MapReadingOptions& mapReading,
                          ControllerServices& services);

// Shows the messages of a run in their order: a quiet one as a status-bar note, the others as
// message boxes.
void ShowRunMessages(const std::vector<Failure>& messages, ControllerServices& services);

class CCalculationController : public QObject {
  Q_OBJECT

 public:
  CCalculationController(ControllerServices& services, CZUBAView& view, QObject* parent = nullptr);
  // Stops a running run and waits for it.
  ~CCalculationController() override;

  // Calculate > Equilibrium Orbits...: dialogs, checks, field map, then the run on the runner.
  // Nothing while a run is going or its results have not yet reached the window. A machine file
  // chosen in the Mode dialog gives the fields, the map and how it is read, the gain per turn and
  // (when it names them) the closure and the precise closure's tolerance.
  void OnCalculateEquilibriumOrbits();
  // Calculate > Save As...: the text report of the results shown.
  void SaveResultsReport();
  // Enabling of the report command: exactly while results are shown.
  bool CanSaveResultsReport() const;

  // From the start of a run until its results (or its end) have reached the window.
  bool IsCalculationRunning() const { return running_; }
  // Asks a running run to stop and waits for its thread; nothing of it reaches the window.
  void StopAndWaitForWorker();

  // How the next run closes its orbits (Calculate > Precise Closed Orbits); the default search
  // unless set.
  void SetClosureMode(ClosureMode mode) { closure_ = mode; }
  ClosureMode GetClosureMode() const { return closure_; }
  // The error bound of each integration step of the precise closure in the next runs and
  // isochronisations (Calculate > Precise Closure Tolerance...); kDefaultPreciseTolerance unless
  // set. The caller passes a tolerance ReadPreciseTolerance accepts.
  void SetPreciseTolerance(double tolerance) { tolerance_ = tolerance; }
  double PreciseTolerance() const { return tolerance_; }

  // The run going or last made (null before the first).
  const SharedRun& Run() const { return run_; }
  const Runner& GetRunner() const { return runner_; }
  const RunParameters& InputData() const { return inputData_; }
  double GainPerTurnMeV() const { return gainPerTurnMeV_; }
  const MapReadingOptions& MapReading() const { return mapReading_; }

 signals:
  // A run was started (true) or has ended and its results reached the window (false).
  void calculationRunning(bool running);
  // A machine file chose the closure of the runs from now on.
  void closureChosen(ClosureMode mode);
  // A machine file chose the precise closure's tolerance of the runs from now on.
  void toleranceChosen(double tolerance);

 private:
  void OnRunFinished(uint64_t run, CalculationOutput output);
  // After a run that failed or stopped: the status bar and the window say which energy it ended
  // at and that the results shown are those before it.
  void NoteRunEndedEarly(const CalculationOutput& output);
  // The start of the run parameters: the preset of the label or the machine file; false (after
  // a message box for a machine file that no longer reads) when there is none.
  bool StartParameters(const std::string& label, const std::string& machineFile);

  ControllerServices& services_;
  CZUBAView& view_;
  RunParameters inputData_;       // the Input Data dialog's record
  MapReadingOptions mapReading_;  // how the run reads its map (the Input Data dialog's too)
  SharedRun run_;                 // the prepared run of the run going or last made
  JobRelay relay_;                // carries the run's end to this thread
  Runner runner_;                 // the thread of the run, its stop token (joined first)
  bool running_ = false;          // see IsCalculationRunning
  uint64_t runId_ = 0;            // counts the runs started; a stopped one's results are dropped
  ClosureMode closure_ = ClosureMode::Standard;  // closure of the next run
  double tolerance_ = kDefaultPreciseTolerance;  // of the precise closure in the next run
  // MeV, the phase slip's (a machine file's, then the Input Data dialog's)
  double gainPerTurnMeV_ = kDefaultGainPerTurnMeV;
};

}  // namespace zuba
