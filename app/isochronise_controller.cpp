// Calculate > Isochronise... (see isochronise_controller.h).
#include "app/isochronise_controller.h"

#include <QProgressDialog>
#include <QWidget>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "app/calculation_controller.h"
#include "app/queued_job.h"
#include "calc/corrections/isochronise.h"
#include "calc/run/run_map.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/message.h"

namespace zuba {
namespace {

// The map file of the run: the first of the views' candidates that exists, else the path as given
// (whose preparation then says that it cannot be read).
std::string MapFileOf(const std::string& path, const std::string& documentFolder) {
  for (const std::string& candidate : RunMapCandidates(path, documentFolder)) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return path;
}

// Writes the run's map changed by deltaB (T per radius node) to path as *.sdf. A failure says
// why; a resampled map is noted first.
Outcome SaveCorrectedMap(const PreparedRun& run, std::span<const double> deltaB,
                         const std::string& path) {
  const Result<SdfConversion> sdf = CorrectedMapSdf(run, deltaB);
  if (!sdf) return ErrorFailure("Unable to save the corrected map: " + sdf.message().text, path);
  if (const Outcome written = WriteFileAtomically(path, sdf->text); !written)
    return ErrorFailure("Unable to save the corrected map " + path + ": " + written.message().text,
                        path);
  if (sdf->resampled)
    ShowMessage(
        "The map's azimuth step has no three-decimal form: the corrected map is written on " +
            std::to_string(sdf->nTheta) + " azimuths (step " +
            QString::number(sdf->dTheta, 'f', 3).toStdString() +
            " degree), which changes the field by up to " +
            QString::number(sdf->largestChange, 'g', 3).toStdString() + " T.",
        "Corrected map", Icon::Information, Owner::Dialog);
  return {};
}

// The search of the request on the prepared run, stoppable, its iterations reported.
IsochroniseOutput Search(const SharedRun& run, const std::shared_ptr<const TrimCoils>& coils,
                         const IsochroniseRequest& request, const std::vector<double>& weights,
                         int threads, double tolerance, const IterationDone& iterationDone,
                         const StopToken& stop) {
  IsochroniseOutput out;
  try {
    const OrbitCloser close = PreciseOrbitCloser(run, threads, stop, tolerance);
    if (coils) {
      TrimFitOptions options;
      options.limits.assign(static_cast<std::size_t>(coils->Count()), request.limit);
      options.target = request.target;
      options.gainPerTurnMeV = request.gainPerTurnMeV;
      options.energyWeights = weights;
      options.iterationDone = iterationDone;
      Result<TrimFit> fit = FitTrimCoils(*run, *coils, close, options);
      out.outcome = fit.outcome();
      out.fit = std::move(fit).TakeOptional();
    } else {
      IsochroniseOptions options;
      options.gainPerTurnMeV = request.gainPerTurnMeV;
      options.iterationDone = iterationDone;
      Result<MeanFieldCorrection> found = FindIsochronousCorrection(*run, close, options);
      out.outcome = found.outcome();
      out.correction = std::move(found).TakeOptional();
    }
  } catch (const std::bad_alloc&) {
    out.outcome = ErrorFailure("Not enough memory for the isochronisation!");
  }
  return out;
}

}  // namespace

// The last iteration a search reported, between its thread and this one.
struct CIsochroniseController::LatestIteration {
  std::mutex mutex;
  int iteration = 0;
  double worst = 0;
};

CIsochroniseController::CIsochroniseController(QWidget& window, ControllerServices& services,
                                               QObject* parent)
    : QObject(parent), window_(window), services_(services) {
  requestDlg_ = new CIsochroniseDlg(&window_);
}

CIsochroniseController::~CIsochroniseController() {
  StopAndWait();
}

void CIsochroniseController::Start(const RunParameters& run, const MapReadingOptions& mapReading,
                                   const std::string& documentFolder, const FileStamp& shownMap,
                                   double tolerance) {
  if (IsRunning()) return;
  IsochroniseRequest request = request_;
  if (!requestDlg_->Ask(request)) return;
  request_ = request;

  std::shared_ptr<const TrimCoils> coils;
  if (request.trimCoils) {
    Result<TrimCoils> read = TrimCoils::Read(request.coilPath);
    if (!read) {
      ShowFailure(read.failure());
      return;
    }
    coils = std::make_shared<const TrimCoils>(std::move(*read));
  }
  SharedRun prepared = PrepareSearchRun(run, mapReading, documentFolder, shownMap);
  if (!prepared) return;

  std::vector<double> weights;
  if (coils) {
    const Result<std::vector<double>> made =
        EnergyWeightsOf(*prepared, request.exclude, request.weights);
    if (!made) {
      ShowFailure(made.failure());
      return;
    }
    weights = *made;
  }

  const uint64_t search = ++searchId_;
  IterationDone iterationDone = RelayIterations(search);
  const int threads = RunThreadCount();
  try {
    const bool started = StartQueued<IsochroniseOutput>(
        runner_, relay_,
        [prepared, coils, request, weights, threads, tolerance,
         iterationDone](const StopToken& stop) {
          return Search(prepared, coils, request, weights, threads, tolerance, iterationDone, stop);
        },
        [this, search](IsochroniseOutput output) { OnFinished(search, std::move(output)); });
    if (!started) return;  // the runner still holds a search (not possible past the check above)
  } catch (const std::system_error& e) {
    errno = e.code().value();
    ReportSystemError("CreateThread");
    return;
  }
  run_ = prepared;
  coils_ = coils;
  running_ = true;
  stopAsked_ = false;
  ShowProgressDialog();
  emit searchRunning(true);
}

SharedRun CIsochroniseController::PrepareSearchRun(const RunParameters& run,
                                                   const MapReadingOptions& mapReading,
                                                   const std::string& documentFolder,
                                                   const FileStamp& shownMap) {
  RunParameters parameters = run;
  parameters.Path = MapFileOf(run.Path, documentFolder);
  // Refused as Calculate's run is refused.
  SharedRun prepared = PrepareRunShown(parameters, mapReading, services_);
  if (!prepared) return nullptr;
  if (shownMap.known() && !prepared->mapFile.SameContents(shownMap)) {
    ShowMessage("The field map file " + parameters.Path +
                    " has changed since the results shown were computed. Run Equilibrium Orbits "
                    "on it again before isochronising.",
                "Isochronise", Icon::Warning, Owner::None);
    return nullptr;
  }
  return prepared;
}

IterationDone CIsochroniseController::RelayIterations(uint64_t search) {
  // Called on the search's thread: the latest iteration is kept behind a lock, and this thread is
  // told without waiting.
  auto latest = std::make_shared<LatestIteration>();
  IterationDone iterationDone = [this, latest](int iteration, double worst) {
    {
      std::lock_guard lock(latest->mutex);
      latest->iteration = iteration;
      latest->worst = worst;
    }
    emit relay_.progressed();
  };
  disconnect(&relay_, &JobRelay::progressed, this, nullptr);
  connect(
      &relay_, &JobRelay::progressed, this,
      [this, search, latest] {
        int iteration = 0;
        double worst = 0;
        {
          std::lock_guard lock(latest->mutex);
          iteration = latest->iteration;
          worst = latest->worst;
        }
        OnIterationDone(search, iteration, worst);
      },
      Qt::QueuedConnection);
  return iterationDone;
}

void CIsochroniseController::ShowProgressDialog() {
  progress_ = new QProgressDialog(QStringLiteral("Closing the orbits of the run on its map..."),
                                  QStringLiteral("Cancel"), 0, 0, &window_);
  progress_->setWindowTitle(QStringLiteral("Isochronise"));
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setMinimumWidth(420);
  // Cancel, the window's close button and Escape all stop the search.
  auto stop = [this] {
    if (!running_ || stopAsked_) return;
    stopAsked_ = true;
    runner_.RequestStop();
    services_.ShowStatusNote("Stopping the isochronisation...");
  };
  connect(progress_, &QProgressDialog::canceled, this, stop);
  connect(progress_, &QDialog::rejected, this, stop);
  progress_->show();
}

void CIsochroniseController::OnIterationDone(uint64_t search, int iteration, double worst) {
  if (search != searchId_ || !progress_) return;
  progress_->setLabelText(QStringLiteral("Iteration %1: worst |F0·H/Frf − 1| = %2")
                              .arg(iteration)
                              .arg(worst, 0, 'e', 3));
}

void CIsochroniseController::OnFinished(uint64_t search, IsochroniseOutput output) {
  // A search given up by StopAndWait: nothing of it is shown.
  if (search != searchId_ || !running_) return;
  running_ = false;
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  emit searchRunning(false);
  if (!output.outcome) {
    // A stopped search fails quietly: a note, no box.
    if (output.outcome.failure().quiet)
      services_.ShowStatusNote("Isochronisation stopped.");
    else
      ShowFailure(output.outcome.failure());
    return;
  }
  // Cancel between two steps: as a stop before the first, nothing is shown of it.
  const CorrectionOutcome& outcome =
      output.fit ? static_cast<const CorrectionOutcome&>(*output.fit) : *output.correction;
  if (outcome.termination == CorrectionTermination::Stopped) {
    services_.ShowStatusNote("Isochronisation stopped.");
    return;
  }
  ShowResult(std::move(output));
}

void CIsochroniseController::StopAndWait() {
  if (!running_) return;
  runner_.RequestStop();
  // The search posts to this thread and never waits for it: a plain join ends.
  runner_.Join();
  ++searchId_;  // what the search posted is dropped
  running_ = false;
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  emit searchRunning(false);
}

void CIsochroniseController::ShowResult(IsochroniseOutput output) {
  if (result_) result_->close();
  CIsochroniseResultDlg* dialog = nullptr;
  const SharedRun run = run_;
  auto shown = std::make_shared<const IsochroniseOutput>(std::move(output));
  std::vector<double> energiesMeV;
  for (double ek : run->Ek) energiesMeV.push_back(JoulesToMeV(ek));
  if (shown->fit) {
    const std::shared_ptr<const TrimCoils> coils = coils_;
    dialog = new CIsochroniseResultDlg(*shown->fit, coils->Names(), &window_, energiesMeV,
                                       TrimFitWarnings(*run, *shown->fit, coils->Names()));
    // The saving keeps the run and the coils it needs.
    dialog->saveMap = [run, coils, shown](const std::string& path) {
      return SaveCorrectedMap(*run, CoilFieldChange(*coils, shown->fit->currents, run->radii),
                              path);
    };
    dialog->saveCurrents = [coils, shown](const std::string& path) -> Outcome {
      if (const Outcome written =
              WriteFileAtomically(path, CoilCurrentsText(*coils, shown->fit->currents));
          !written)
        return ErrorFailure("Unable to save the currents " + path + ": " + written.message().text,
                            path);
      return {};
    };
  } else {
    dialog = new CIsochroniseResultDlg(*shown->correction, &window_, energiesMeV,
                                       CorrectionWarnings(*run, *shown->correction));
    dialog->saveMap = [run, shown](const std::string& path) {
      return SaveCorrectedMap(*run, shown->correction->deltaB, path);
    };
  }
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  result_ = dialog;
  dialog->show();
}

}  // namespace zuba
