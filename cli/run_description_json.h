// The run description as JSON, by the fields' own names, for the commands that print it.
#pragma once

#include <nlohmann/json.hpp>

#include "results/run_fields.h"
#include "results/run_parameters.h"

namespace zuba::cli {

inline nlohmann::ordered_json RunDescriptionJson(const RunParameters& run) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  for (const RunField& field : kRunFields)
    VisitRunField(field, run, [&](const auto& value) { out[field.name] = value; });
  return out;
}

}  // namespace zuba::cli
