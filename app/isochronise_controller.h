// Calculate > Isochronise...: the request dialog, the run of the document prepared as Calculate's
// run prepares it, the search for the isochronous mean field or the trim-coil currents on a thread
// of its own behind a busy progress dialog that names the iteration and can stop it, and the window
// of the result with its saving of the corrected map and the currents.
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/isochronise_dlg.h"
#include "app/queued_job.h"
#include "calc/corrections/isochronise.h"
#include "calc/run/prepared_run.h"
#include "platform/file_stamp.h"
#include "platform/runner.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

class QWidget;

namespace zuba {

class ControllerServices;

// What a search hands back: its outcome and its result (the correction or the currents).
struct IsochroniseOutput {
  Outcome outcome;
  std::optional<MeanFieldCorrection> correction;
  std::optional<TrimFit> fit;
};

class CIsochroniseController : public QObject {
  Q_OBJECT

 public:
  // window: the parent of the dialogs; services: the status-bar notes.
  CIsochroniseController(QWidget& window, ControllerServices& services, QObject* parent = nullptr);
  // Stops a running search and waits for it.
  ~CIsochroniseController() override;

  // Asks the request, prepares the run of `run` read with `mapReading` (a relative map path found
  // as the views find it: beside the document first, then in the current folder) and starts the
  // search. Nothing when a search is running. A map file whose contents are no longer those of
  // `shownMap` (the stamp of the results shown, when known) is refused: the correction would not
  // be that of the results on the screen. The search closes its orbits with the precise closure
  // to `tolerance`.
  void Start(const RunParameters& run, const MapReadingOptions& mapReading,
             const std::string& documentFolder, const FileStamp& shownMap = {},
             double tolerance = kDefaultPreciseTolerance);
  // From the start of a search until what it found has reached the window.
  bool IsRunning() const { return running_; }
  // Asks a running search to stop and waits for it; nothing is shown of it afterwards.
  void StopAndWait();
  const Runner& GetRunner() const { return runner_; }

  CIsochroniseDlg& RequestDialog() { return *requestDlg_; }
  QProgressDialog* ProgressDialog() const { return progress_; }
  // The window of the last result (null when none is open).
  CIsochroniseResultDlg* ResultDialog() const { return result_.data(); }

 signals:
  // A search was started (true) or has ended and been joined (false).
  void searchRunning(bool running);

 private:
  struct LatestIteration;
  // The run of the results shown, prepared from its map file (found as the views find it); null,
  // after its message, when refused or when the file is no longer that of `shownMap`.
  SharedRun PrepareSearchRun(const RunParameters& run, const MapReadingOptions& mapReading,
                             const std::string& documentFolder, const FileStamp& shownMap);
  // The report of the search's iterations: kept behind a lock on its thread, shown on this one.
  IterationDone RelayIterations(uint64_t search);
  // The busy dialog of a started search, whose Cancel stops it.
  void ShowProgressDialog();
  void OnIterationDone(uint64_t search, int iteration, double worst);
  void OnFinished(uint64_t search, IsochroniseOutput output);
  void ShowResult(IsochroniseOutput output);

  QWidget& window_;
  ControllerServices& services_;
  CIsochroniseDlg* requestDlg_ = nullptr;
  IsochroniseRequest request_;              // kept between openings
  SharedRun run_;                           // the prepared run of the search
  std::shared_ptr<const TrimCoils> coils_;  // the coils of a trim-coil fit
  JobRelay relay_;                          // carries the search's end to this thread
  Runner runner_;                           // the thread of the search (joined first)
  bool running_ = false;                    // see IsRunning
  bool stopAsked_ = false;                  // the running search was asked to stop
  uint64_t searchId_ = 0;  // counts the searches; a stopped one's result is dropped
  QPointer<QProgressDialog> progress_;
  QPointer<CIsochroniseResultDlg> result_;
};

}  // namespace zuba
