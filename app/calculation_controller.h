// The calculation commands of the desktop program: Calculate > Equilibrium Orbits... (the two
// dialogs, the checks and the field map, then the run on a worker thread), the stop request of a
// double click in the view, stopping and waiting when the document goes, and Calculate > Save
// As... (the text report of the results shown). It owns the calculation object of the window and
// reaches the dialogs, the progress bar and the file chooser of the report through
// ControllerServices, which the main window implements.
#pragma once

#include <QObject>
#include <cstdint>
#include <string>
#include <vector>

#include "calc/orbits/precise_orbit.h"
#include "calc/run/calculation.h"
#include "calc/run/diagnostics.h"
#include "graph/view.h"
#include "platform/progress.h"
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
  // The progress bar as the worker drives it (synchronous requests from any thread).
  virtual ProgressSink& Progress() = 0;
  // While detached, the worker's progress requests and messages return at once without waiting
  // for the user-interface thread: set while a worker is stopped and waited for.
  virtual void SetWorkerDetached(bool detached) = 0;
  // The save-file chooser of the report; an empty text when no file name was chosen.
  virtual std::string AskReportPath() = 0;
  // A short note on the status bar (a run refused by a silent parameter check, the accuracy line of
  // a run of the default search).
  virtual void ShowStatusNote(const std::string& text) = 0;
};

// Prepares the calculation's run from the parameters and the map-reading options; a refusal is
// shown (a quiet one as a status-bar note) and gives false.
bool PrepareRunShown(Calculation& calculation, const RunParameters& parameters,
                     const MapReadingOptions& mapReading, ControllerServices& services);

class CCalculationController : public QObject {
  Q_OBJECT

 public:
  // The runs hand their results over into the view's hand-over, which the view takes them from.
  CCalculationController(ControllerServices& services, CZUBAView& view, QObject* parent = nullptr);
  // Stops a running worker and waits for it: the worker reads the calculation's record.
  ~CCalculationController() override;

  // Calculate > Equilibrium Orbits...: dialogs, checks, field map, then the worker thread. A
  // machine file chosen in the Mode dialog gives the fields, the map and how it is read, the
  // gain per turn and (when it names one) the closure.
  void OnCalculateEquilibriumOrbits();
  // Calculate > Save As...: the text report of the view's results.
  void SaveResultsReport();
  // Enabling of the report command: exactly while results are available.
  bool CanSaveResultsReport() const;

  bool IsCalculationRunning() const { return calculation_.IsRunning(); }
  // Asks a running worker to stop and waits for it, processing the user-interface thread's events
  // meanwhile (so that a pending progress request or message box cannot dead-lock the wait). The
  // worker's progress requests and messages return at once while it winds down.
  void StopAndWaitForWorker();

  // How the next run closes its orbits (Calculate > Precise Closed Orbits); the default search
  // unless set.
  void SetClosureMode(ClosureMode mode) { closure_ = mode; }
  ClosureMode GetClosureMode() const { return closure_; }

  Calculation& GetCalculation() { return calculation_; }
  const CalculationRecord& Record() const { return calculation_.Record(); }
  const RunParameters& InputData() const { return inputData_; }
  double GainPerTurnMeV() const { return gainPerTurnMeV_; }
  const MapReadingOptions& MapReading() const { return mapReading_; }

 signals:
  // A worker was started (true) or has ended and been joined (false).
  void calculationRunning(bool running);
  // A machine file chose the closure of the runs from now on.
  void closureChosen(ClosureMode mode);

 private:
  void OnWorkerFinished(uint64_t run, WorkerOutcome outcome);
  // After a run that failed or stopped: the status bar and the window say which energy it ended
  // at and that the results shown are those before it.
  void NoteRunEndedEarly(WorkerOutcome outcome);
  // The start of the run parameters: the preset of the label or the machine file; false (after
  // a message box for a machine file that no longer reads) when there is none.
  bool StartParameters(const std::string& label, const std::string& machineFile);

  ControllerServices& services_;
  CZUBAView& view_;
  RunParameters inputData_;       // the Input Data dialog's record
  MapReadingOptions mapReading_;  // how the run reads its map (the Input Data dialog's too)
  Calculation calculation_;       // the record the worker is given, the stop token, the thread
  uint64_t runId_ = 0;            // counts the workers started
  ClosureMode closure_ = ClosureMode::Standard;  // closure of the next run
  // MeV, the phase slip's (a machine file's, then the Input Data dialog's)
  double gainPerTurnMeV_ = kDefaultGainPerTurnMeV;
};

}  // namespace zuba
