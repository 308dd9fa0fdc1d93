// What the Input Data dialog does with the run parameters when it closes with Enter, and what the
// calculation command does before it reads the map: the texts trimmed, a missing field map path
// or particle name refused, the charge taken as its magnitude.
#pragma once

#include "platform/outcome.h"
#include "results/run_parameters.h"

namespace zuba {

// Trims white space from both ends of Path and ParticleName; then refuses an empty Path ("Enter
// the file path of the magnetic field map!", caption "Stop"), then an empty ParticleName ("Enter
// the name of particle!", caption "Stop"); when neither is refused, replaces Q by its magnitude
// (the sign of the charge is ChargeSign's; the most negative integer becomes the largest one).
// A refusal names the field ("Path" or "ParticleName"); the caller shows it with its own owner.
Outcome CompleteRunParameters(RunParameters& run);

}  // namespace zuba
