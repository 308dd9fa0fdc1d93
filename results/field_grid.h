// A field map as the views draw it: the vertical field in the median plane on a polar mesh that
// covers one full turn. A plain record without reading or checking: the front ends fill it from a
// map they have read, the graphs only draw it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuba {

struct FieldGrid {
  std::vector<double> radii;     // m, increasing
  std::vector<double> azimuths;  // rad, increasing by 2 pi / azimuths.size() over one turn
  std::vector<double> field;     // T, radius-major: iR * azimuths.size() + iTheta
  double thetaStart = 0;         // rad, the first azimuth
  double thetaEnd = 0;           // rad, thetaStart + 2 pi
  std::string path;              // the file it was read from

  int32_t nR() const { return static_cast<int32_t>(radii.size()); }
  int32_t nTheta() const { return static_cast<int32_t>(azimuths.size()); }
  // Enough nodes to draw and field values for each.
  bool usable() const {
    return radii.size() >= 2 && azimuths.size() >= 2 &&
           field.size() == radii.size() * azimuths.size();
  }
};

}  // namespace zuba
