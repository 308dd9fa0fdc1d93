// The run description as JSON, by the fields' own names, for the commands that print it.
#pragma once

#include <nlohmann/json.hpp>

#include "results/run_parameters.h"

namespace zuba::cli {

inline nlohmann::ordered_json RunDescriptionJson(const RunParameters& run) {
  return nlohmann::ordered_json{{"Path", run.Path},
                                {"ParticleName", run.ParticleName},
                                {"EkBegin", run.EkBegin},
                                {"EkEnd", run.EkEnd},
                                {"dEk", run.dEk},
                                {"Frf", run.Frf},
                                {"H", run.H},
                                {"N", run.N},
                                {"ChargeSign", run.ChargeSign},
                                {"Q", run.Q},
                                {"m0", run.m0},
                                {"T0", run.T0},
                                {"TIs", run.TIs},
                                {"h", run.h}};
}

}  // namespace zuba::cli
