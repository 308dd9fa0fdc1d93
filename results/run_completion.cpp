// The completion of the run parameters shared by the Input Data dialog and the command line.
#include "results/run_completion.h"

#include <cstdlib>
#include <limits>

#include "results/text.h"

namespace zuba {

namespace {
Failure Stop(const char* text, const char* field) {
  return MessageFailure(Message{text, "Stop", Icon::Error, Owner::None}, field);
}
}  // namespace

Outcome CompleteRunParameters(RunParameters& run) {
  run.Path = TrimSpace(run.Path);
  run.ParticleName = TrimSpace(run.ParticleName);
  if (run.Path.empty()) return Stop("Enter the file path of the magnetic field map!", "Path");
  if (run.ParticleName.empty()) return Stop("Enter the name of particle!", "ParticleName");
  // The magnitude of the most negative integer does not fit; it is kept at the largest one.
  run.Q = run.Q == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                       : std::abs(run.Q);
  return {};
}

}  // namespace zuba
