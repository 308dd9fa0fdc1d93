// The median-plane field map: reading and checking a *.sdf file into radius-major tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/outcome.h"
#include "results/map_reading.h"

namespace zuba {

struct FieldMap {
  int32_t nR = 0, nTheta = 0;
  std::string unit;                     // the file's own unit: "Gs" or "T" (*.sdf), "kG", a table's
  std::vector<double> radii;            // m, increasing; *.sdf: running sum from Rmin
  std::vector<double> azimuths;         // rad, step Δ = 2π/nTheta; *.sdf: k0*Δ, running sum
  std::vector<double> field;            // T, radius-major: iR*nTheta + iTheta
  std::vector<double> moments;          // T/m², same layout, zero after reading
  double thetaStart = 0, thetaEnd = 0;  // rad
  MapFormat format = MapFormat::Sdf;    // the reader that read it
  // T, the largest difference between a closing column that the file gave (the first column one
  // turn or one sector later) and the first column, which the reader dropped; negative when the
  // file had none.
  double closingDifference = -1;
};

// Reads the whole file in one read and checks it. A refusal carries its message (caption "Error",
// error icon; owned by the view for the unit, header, coverage and data-length messages, without
// owner for the file and memory messages).
Result<FieldMap> ReadFieldMap(const std::string& path);

// The same on the outcome of reading the whole file (platform/files.h).
Result<FieldMap> ParseFieldMapFile(const FileBytes& file);

// The same checks and refusals on the file's bytes already in memory (everything after the read):
// an empty text gives "The file is empty!".
Result<FieldMap> ParseFieldMap(std::string_view bytes);

}  // namespace zuba
