// The median-plane field map: reading and checking a *.sdf file into radius-major tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

struct FieldMap {
  int32_t nR = 0, nTheta = 0;
  std::string unit;                     // "Gs" or "T", as in the file
  std::vector<double> radii;            // m, running sum from Rmin
  std::vector<double> azimuths;         // rad, k0*Δ then running sum of Δ = 2π/nTheta
  std::vector<double> field;            // T, radius-major: iR*nTheta + iTheta
  std::vector<double> moments;          // T/m², same layout, zero after reading
  double thetaStart = 0, thetaEnd = 0;  // rad
};

// Reads the whole file in one read and checks it. A refusal carries its message (caption "Error",
// error icon; owned by the view for the unit, header, coverage and data-length messages, without
// owner for the file and memory messages).
Result<FieldMap> ReadFieldMap(const std::string& path);

// The same checks and refusals on the file's bytes already in memory (everything after the read):
// an empty text gives "Memory Locking Error!".
Result<FieldMap> ParseFieldMap(std::string_view bytes);

}  // namespace zuba
