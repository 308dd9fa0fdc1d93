// A preset on its bundled example map, prepared as a run prepares it, with the field patches:
// the common start of the benchmarks that close orbits on the example maps.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "calc/run/driver.h"
#include "calc/run/run_quantities.h"
#include "numerics/field_patches.h"

namespace zuba {

struct ExampleMap {
  SharedRun shared;
  PreparedRun record;
  OrbitInputs prepared;
  std::optional<FieldPatches> patches;

  // Aborts when the map cannot be read or prepared: a benchmark has nothing to measure then.
  ExampleMap(const char* mode, const char* file) {
    RunParameters p;
    ApplyPreset(mode, p);
    p.Path = std::string(ZUBA_EXAMPLES_DIR) + "/" + file;
    Result<SharedRun> made = PrepareCalculation(p);
    if (!made) std::abort();
    shared = *made;
    record = *shared;
    Result<OrbitInputs> inputs = PrepareOrbitInputs(record);
    if (!inputs) std::abort();
    prepared = std::move(*inputs);
    patches = FieldPatches::Build(prepared.radialSteps, record.radii, record.azimuths, record.field,
                                  prepared.moments)
                  .TakeOptional();
    if (!patches) std::abort();
  }
};

}  // namespace zuba
