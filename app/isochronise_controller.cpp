// Calculate > Isochronise... (see isochronise_controller.h).
#include "app/isochronise_controller.h"

#include <QProgressDialog>
#include <QWidget>
#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "app/calculation_controller.h"
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

// Writes the record's map changed by deltaB (T per radius node) to path as *.sdf: an empty text
// when written, else the reason.
std::string SaveCorrectedMap(const CalculationRecord& record, std::span<const double> deltaB,
                             const std::string& path) {
  const Result<SdfConversion> sdf = CorrectedMapSdf(record, deltaB);
  if (!sdf) return "Unable to save the corrected map: " + sdf.message().text;
  if (const Outcome written = WriteFileAtomically(path, sdf->text); !written)
    return "Unable to save the corrected map " + path + ": " + written.message().text;
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

}  // namespace

CIsochroniseController::CIsochroniseController(QWidget& window, ControllerServices& services,
                                               QObject* parent)
    : QObject(parent), window_(window), services_(services) {
  requestDlg_ = new CIsochroniseDlg(&window_);
}

CIsochroniseController::~CIsochroniseController() {
  StopAndWait();
}

void CIsochroniseController::Start(const RunParameters& run, const MapReadingOptions& mapReading,
                                   const std::string& documentFolder, const FileStamp& shownMap) {
  if (IsRunning()) return;
  IsochroniseRequest request = request_;
  if (!requestDlg_->Ask(request)) return;
  request_ = request;

  auto job = std::make_shared<IsochroniseJob>();
  job->request = request;
  job->threads = RunThreadCount();
  if (request.trimCoils) {
    Result<TrimCoils> coils = TrimCoils::Read(request.coilPath);
    if (!coils) {
      ShowFailure(coils.failure());
      return;
    }
    job->coils = std::move(*coils);
  }
  RunParameters parameters = run;
  parameters.Path = MapFileOf(run.Path, documentFolder);
  // Refused as Calculate's run is refused.
  if (!PrepareRunShown(job->calculation, parameters, mapReading, services_)) return;
  if (shownMap.known() && !job->calculation.Record().mapFile.SameContents(shownMap)) {
    ShowMessage("The field map file " + parameters.Path +
                    " has changed since the results shown were computed. Run Equilibrium Orbits "
                    "on it again before isochronising.",
                "Isochronise", Icon::Warning, Owner::None);
    return;
  }

  if (job->coils) {
    const Result<std::vector<double>> weights =
        EnergyWeightsOf(job->calculation.Record(), request.exclude, request.weights);
    if (!weights) {
      ShowFailure(weights.failure());
      return;
    }
    job->energyWeights = *weights;
  }

  const uint64_t search = ++searchId_;
  // Called on the search's thread: the progress dialog is told on this one.
  IterationDone iterationDone = [this, search](int iteration, double worst) {
    QMetaObject::invokeMethod(
        this, [this, search, iteration, worst] { OnIterationDone(search, iteration, worst); },
        Qt::QueuedConnection);
  };
  try {
    worker_ = std::thread([this, job, search, iterationDone] {
      try {
        const CalculationRecord& record = job->calculation.Record();
        const OrbitCloser close = PreciseOrbitCloser(record, job->threads, &job->stop);
        if (job->coils) {
          TrimFitOptions options;
          options.limits.assign(static_cast<std::size_t>(job->coils->Count()), job->request.limit);
          options.target = job->request.target;
          options.gainPerTurnMeV = job->request.gainPerTurnMeV;
          options.energyWeights = job->energyWeights;
          options.iterationDone = iterationDone;
          Result<TrimFit> fit = FitTrimCoils(record, *job->coils, close, options);
          job->outcome = fit.outcome();
          job->fit = std::move(fit).TakeOptional();
        } else {
          IsochroniseOptions options;
          options.gainPerTurnMeV = job->request.gainPerTurnMeV;
          options.iterationDone = iterationDone;
          Result<MeanFieldCorrection> found = FindIsochronousCorrection(record, close, options);
          job->outcome = found.outcome();
          job->correction = std::move(found).TakeOptional();
        }
      } catch (const std::bad_alloc&) {
        job->outcome = ErrorFailure("Not enough memory for the isochronisation!");
      }
      QMetaObject::invokeMethod(
          this, [this, search] { OnFinished(search); }, Qt::QueuedConnection);
    });
  } catch (const std::system_error& e) {
    errno = e.code().value();
    ReportSystemError("CreateThread");
    return;
  }
  job_ = job;

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
    if (!job_ || job_->stop.exchange(1, std::memory_order_acq_rel) != 0) return;
    services_.ShowStatusNote("Stopping the isochronisation...");
  };
  connect(progress_, &QProgressDialog::canceled, this, stop);
  connect(progress_, &QDialog::rejected, this, stop);
  progress_->show();
  emit searchRunning(true);
}

void CIsochroniseController::OnIterationDone(uint64_t search, int iteration, double worst) {
  if (search != searchId_ || !progress_) return;
  progress_->setLabelText(QStringLiteral("Iteration %1: worst |F0·H/Frf − 1| = %2")
                              .arg(iteration)
                              .arg(worst, 0, 'e', 3));
}

void CIsochroniseController::OnFinished(uint64_t search) {
  // Already joined by StopAndWait.
  if (search != searchId_ || !worker_.joinable()) return;
  worker_.join();
  const std::shared_ptr<IsochroniseJob> job = std::move(job_);
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  emit searchRunning(false);
  if (!job->outcome) {
    // A stopped search fails quietly: a note, no box.
    if (job->outcome.failure().quiet)
      services_.ShowStatusNote("Isochronisation stopped.");
    else
      ShowFailure(job->outcome.failure());
    return;
  }
  // Cancel between two steps: as a stop before the first, nothing is shown of it.
  const CorrectionOutcome* outcome =
      job->fit ? static_cast<const CorrectionOutcome*>(&*job->fit) : &*job->correction;
  if (outcome->termination == CorrectionTermination::Stopped) {
    services_.ShowStatusNote("Isochronisation stopped.");
    return;
  }
  ShowResult(job);
}

void CIsochroniseController::StopAndWait() {
  if (!worker_.joinable()) return;
  job_->stop.store(1, std::memory_order_release);
  // The search posts to this thread and never waits for it: a plain join ends.
  worker_.join();
  job_.reset();
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  emit searchRunning(false);
}

void CIsochroniseController::ShowResult(const std::shared_ptr<IsochroniseJob>& job) {
  if (result_) result_->close();
  CIsochroniseResultDlg* dialog = nullptr;
  const CalculationRecord& record = job->calculation.Record();
  std::vector<double> energiesMeV;
  for (double ek : record.Ek) energiesMeV.push_back(JoulesToMeV(ek));
  if (job->fit) {
    dialog = new CIsochroniseResultDlg(*job->fit, job->coils->Names(), &window_, energiesMeV,
                                       TrimFitWarnings(record, *job->fit, job->coils->Names()));
    // The saving keeps the job: it reads the record and the coils.
    dialog->saveMap = [job, &record](const std::string& path) {
      return SaveCorrectedMap(record,
                              CoilFieldChange(*job->coils, job->fit->currents, record.radii), path);
    };
    dialog->saveCurrents = [job](const std::string& path) -> std::string {
      if (const Outcome written =
              WriteFileAtomically(path, CoilCurrentsText(*job->coils, job->fit->currents));
          !written)
        return "Unable to save the currents " + path + ": " + written.message().text;
      return {};
    };
  } else {
    dialog = new CIsochroniseResultDlg(*job->correction, &window_, energiesMeV,
                                       CorrectionWarnings(record, *job->correction));
    dialog->saveMap = [job, &record](const std::string& path) {
      return SaveCorrectedMap(record, job->correction->deltaB, path);
    };
  }
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  result_ = dialog;
  dialog->show();
}

}  // namespace zuba
