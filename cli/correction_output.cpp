// The run and the corrected map of isochronise and trim-fit (see correction_output.h).
#include "cli/correction_output.h"

#include <csignal>
#include <cstdio>

#include "calc/corrections/isochronise.h"
#include "cli/command.h"
#include "numerics/average_field.h"
#include "numerics/constants.h"
#include "platform/files.h"
#include "platform/message.h"

namespace zuba::cli {
namespace {

// The stop flag of the search that Ctrl+C stops (a signal handler reaches it only through a
// variable of its own; the atomics are lock-free).
std::atomic<std::atomic<bool>*> interruptTarget{nullptr};

extern "C" void OnCorrectionInterrupt(int) {
  if (std::atomic<bool>* stop = interruptTarget.load()) stop->store(true);
}

nlohmann::ordered_json ValueOrNull(double value) {
  return value == kNoValue ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(value);
}

}  // namespace

CorrectionRun::CorrectionRun() {
  interruptTarget.store(stop.Flag());
  struct sigaction action {};
  action.sa_handler = OnCorrectionInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

CorrectionRun::~CorrectionRun() {
  std::signal(SIGINT, SIG_DFL);
  interruptTarget.store(nullptr);
}

void AddOutcomeJson(nlohmann::ordered_json& out, const PreparedRun& record,
                    const CorrectionOutcome& outcome, double tolerance) {
  out["converged"] = outcome.converged();
  out["target"] = outcome.target;
  out["termination"] = TerminationName(outcome.termination);
  nlohmann::ordered_json residuals = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < outcome.errorBefore.size(); ++i)
    residuals.push_back({{"Ek_MeV", record.Ek[i] / (1e6 * kElementaryCharge)},
                         {"isochronism_before", ValueOrNull(outcome.errorBefore[i])},
                         {"isochronism_after", ValueOrNull(outcome.errorAfter[i])},
                         {"excluded", static_cast<bool>(outcome.excluded[i])}});
  out["residuals"] = std::move(residuals);
  out["lost_in_iteration"] = outcome.lostInIterationMeV;
  out["tolerance"] = tolerance;
}

void PrintWarnings(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::fprintf(stderr, "%s\n", line.c_str());
}

int SearchStopped(const CorrectionOutcome& outcome) {
  std::fprintf(stderr, "The search was stopped after %d iterations; nothing was written.\n",
               outcome.iterations);
  return kExitStopped;
}

int CorrectionRun::Prepare(const RunSetup& setup) {
  if (const int made = MakeRunStart(setup, start); made != kExitOk) return made;
  Result<SharedRun> prepared = PrepareCalculation(start.parameters, start.reading);
  if (!prepared) return Refused(prepared.outcome());
  run = std::move(*prepared);
  threads = ThreadsOf(setup);
  return kExitOk;
}

int SearchFailed(const Outcome& outcome) {
  ShowMessage(outcome.message());
  return kExitFailed;
}

int WriteCorrectedMap(const std::string& output, const PreparedRun& record,
                      std::span<const double> deltaB, int threads, double tolerance,
                      std::optional<double>& afterWritten) {
  const Result<SdfConversion> sdf = CorrectedMapSdf(record, deltaB);
  if (!sdf) {
    ShowMessage(output + ": " + sdf.message().text, "Error");
    return kExitRefused;
  }
  if (sdf->resampled)
    std::fprintf(stderr,
                 "%s: the map's azimuth step has no three-decimal form; written on %d azimuths "
                 "(step %.3f degree), largest change %.3g T\n",
                 output.c_str(), sdf->nTheta, sdf->dTheta, sdf->largestChange);
  if (Outcome written = WriteFileAtomically(output, sdf->text); !written) {
    ShowMessage(output + ": " + written.message().text, "Error");
    return kExitRefused;
  }
  // The map as written: the same run on the file just written, read as a plain *.sdf.
  RunParameters p = record.run;
  p.Path = output;
  const Result<SharedRun> reread = PrepareCalculation(p);
  if (!reread) return Refused(reread.outcome());
  const Result<std::vector<double>> errors = IsochronismOnMap(*reread, threads, tolerance);
  if (!errors) {
    ShowMessage(errors.message());
    return kExitFailed;
  }
  afterWritten = LargestMagnitude(*errors);
  return kExitOk;
}

}  // namespace zuba::cli
