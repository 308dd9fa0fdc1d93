// What a calculation makes of the run parameters: the two operating-mode presets, the record
// converted to SI units and checked, and the table of kinetic energies to visit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/constants.h"
#include "platform/outcome.h"
#include "results/run_parameters.h"

namespace zuba {

// The two labels of the Mode dialog.
inline constexpr const char* kModeTvk310 = "TVK-310: p";
inline constexpr const char* kModeAvf14N5 = "AVF: 14N5";

// Writes the whole preset of the mode label into parameters and returns true; any label other than
// the two above (compared exactly, case-sensitively) leaves parameters untouched and returns false.
bool ApplyPreset(std::string_view label, RunParameters& parameters);

// The run constants in SI units and the energy table.
struct RunQuantities {
  double rfFrequency = 0;                  // Hz
  double charge = 0;                       // C, signed
  double restMass = 0;                     // kg
  double ekBegin = 0, ekEnd = 0, dEk = 0;  // J
  int32_t n = 0;                           // energy steps
  std::vector<double> Ek;                  // J, running sum from ekBegin
};

// Converts the record to SI units, checks it and builds the energy table. A refusal is one line
// naming the field at fault and its allowed range. The nine basic checks of the record are quiet
// (the command ends without a message box); the further checks of the values that would make the
// orbit arithmetic divide by zero or overflow have a message box of their own (caption "Error",
// owned by the view).
Result<RunQuantities> DeriveRunQuantities(const RunParameters& parameters);

}  // namespace zuba
