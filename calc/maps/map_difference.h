// The difference of two field maps, as laboratories compare a measured map with its design map or
// a map before and after shimming: B of map A at A's nodes minus B of map B interpolated there
// (the program's own field interpolation), with per radius of A the change of the mean field, of
// the field index and of the first, second and N-th harmonic amplitudes, and the RMS and largest
// difference over the map.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/outcome.h"

namespace zuba {

// The per-radius changes, A minus B, at every radius node of A.
struct RadiusDifference {
  double r = 0;                // m
  double deltaMean = 0;        // T, azimuthal mean of the difference
  double deltaFieldIndex = 0;  // 1, k of A minus k of B (k = R / mean B * d mean B / dR)
  double deltaA1 = 0;          // T, first-harmonic amplitude of A minus that of B
  double deltaA2 = 0;          // T, second harmonic
  double deltaAN = 0;          // T, N-th harmonic
};

struct MapDifference {
  int32_t sectors = 0;  // N of the N-th harmonic
  std::vector<RadiusDifference> radii;
  double rms = 0;                 // T, over every node of A
  double maxAbs = 0;              // T, the largest |difference|
  double maxR = 0, maxTheta = 0;  // m, rad: where it is
  FieldMap difference;            // on A's mesh, in T ("T" its unit)
};

// The number of sectors a map's harmonics show: the harmonic n >= 2 (up to 24 and below half the
// azimuth count) of the largest amplitude summed over the radii; 2 when the map has none.
int32_t DominantHarmonic(const FieldMap& map);

// A minus B on A's mesh, with the N-th harmonic of `sectors` (DominantHarmonic of A when not
// given; at least 2). Refused, one line: A's radii leaving B's radius range, a map too small for
// the analysis (fewer than 3 radii), B's field that cannot be interpolated.
Result<MapDifference> DifferenceOfMaps(const FieldMap& a, const FieldMap& b,
                                       std::optional<int32_t> sectors = std::nullopt);

}  // namespace zuba
