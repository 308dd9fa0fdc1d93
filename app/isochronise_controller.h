// Calculate > Isochronise...: the request dialog, the run of the document prepared as Calculate's
// run prepares it, the search for the isochronous mean field or the trim-coil currents on a thread
// of its own behind a busy progress dialog that names the iteration and can stop it, and the window
// of the result with its saving of the corrected map and the currents.
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/isochronise_dlg.h"
#include "calc/run/calculation.h"
#include "platform/file_stamp.h"
#include "results/hand_over.h"
#include "results/map_reading.h"
#include "results/run_parameters.h"

class QWidget;

namespace zuba {

class ControllerServices;

// One search: its own prepared run (the record the closer reads), the request and its outcome.
// Shared by the thread and the result window, whose saving reads the record.
struct IsochroniseJob {
  ResultsHandOver handOver;
  Calculation calculation{handOver};
  IsochroniseRequest request;
  std::optional<TrimCoils> coils;
  std::vector<double> energyWeights;  // per energy of the run, for the coil fit
  int threads = 1;
  std::atomic<int32_t> stop{0};
  Outcome outcome;  // of the search
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
  // be that of the results on the screen.
  void Start(const RunParameters& run, const MapReadingOptions& mapReading,
             const std::string& documentFolder, const FileStamp& shownMap = {});
  bool IsRunning() const { return worker_.joinable(); }
  // Asks a running search to stop and waits for it; nothing is shown of it afterwards.
  void StopAndWait();

  CIsochroniseDlg& RequestDialog() { return *requestDlg_; }
  QProgressDialog* ProgressDialog() const { return progress_; }
  // The window of the last result (null when none is open).
  CIsochroniseResultDlg* ResultDialog() const { return result_.data(); }

 signals:
  // A search was started (true) or has ended and been joined (false).
  void searchRunning(bool running);

 private:
  void OnIterationDone(uint64_t search, int iteration, double worst);
  void OnFinished(uint64_t search);
  void ShowResult(const std::shared_ptr<IsochroniseJob>& job);

  QWidget& window_;
  ControllerServices& services_;
  CIsochroniseDlg* requestDlg_ = nullptr;
  IsochroniseRequest request_;  // kept between openings
  std::shared_ptr<IsochroniseJob> job_;
  std::thread worker_;
  uint64_t searchId_ = 0;
  QPointer<QProgressDialog> progress_;
  QPointer<CIsochroniseResultDlg> result_;
};

}  // namespace zuba
