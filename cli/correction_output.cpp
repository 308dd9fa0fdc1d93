// The run and the corrected map of isochronise and trim-fit (see correction_output.h).
#include "cli/correction_output.h"

#include <cstdio>

#include "calc/corrections/isochronise.h"
#include "cli/command.h"
#include "platform/files.h"
#include "platform/message.h"
#include "results/hand_over.h"

namespace zuba::cli {

int CorrectionRun::Prepare(const RunSetup& setup) {
  const MapReadingOptions reading = setup.reading.Options();
  RunParameters p;
  if (!MakeRunParameters(setup, p)) return kExitRefused;
  if (const Outcome prepared = calculation.Prepare(p, reading); !prepared) return Refused(prepared);
  threads = ThreadsOf(setup);
  return kExitOk;
}

int SearchFailed(const Outcome& outcome) {
  ShowMessage(outcome.message());
  return kExitFailed;
}

int WriteCorrectedMap(const std::string& output, const CalculationRecord& record,
                      std::span<const double> deltaB, int threads,
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
  ResultsHandOver handOver;
  Calculation reread(handOver);
  if (const Outcome prepared = reread.Prepare(p); !prepared) return Refused(prepared);
  const Result<std::vector<double>> errors = IsochronismOnMap(reread.Record(), threads);
  if (!errors) {
    ShowMessage(errors.message());
    return kExitFailed;
  }
  afterWritten = LargestMagnitude(*errors);
  return kExitOk;
}

}  // namespace zuba::cli
