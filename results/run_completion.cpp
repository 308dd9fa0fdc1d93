// The completion of the run parameters shared by the Input Data dialog and the command line.
#include "results/run_completion.h"

#include <cstdlib>
#include <limits>

#include "results/text.h"

namespace zuba {

RunCompletion CompleteRunParameters(RunParameters& run) {
  run.Path = TrimSpace(run.Path);
  run.ParticleName = TrimSpace(run.ParticleName);
  if (run.Path.empty())
    return {RunRefusal::NoMapPath, "Enter the file path of the magnetic field map!", "Stop"};
  if (run.ParticleName.empty())
    return {RunRefusal::NoParticleName, "Enter the name of particle!", "Stop"};
  // The magnitude of the most negative integer does not fit; it is kept at the largest one.
  run.Q = run.Q == std::numeric_limits<int32_t>::min() ? std::numeric_limits<int32_t>::max()
                                                       : std::abs(run.Q);
  return {};
}

}  // namespace zuba
