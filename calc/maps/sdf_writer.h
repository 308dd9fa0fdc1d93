// Writing field maps as *.sdf text: the numbers as the reader keeps them (header values to 0.001,
// field values to 1e-5 T), and the conversion of a map read from any format, resampled in azimuth
// where its step has no three-decimal form.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/outcome.h"

namespace zuba {

// A header value (m or degree) as the reader keeps it: to 0.001, halves away from zero.
double RoundSdfHeader(double x);

// A field value kept to 1e-5 T, written in Gs (gauss) or T with exactly the digits the reader
// keeps ("12345.7", "-1.23457").
std::string SdfValueText(double tesla, bool gauss);

struct SdfConversion {
  std::string text;                   // the *.sdf file
  std::string unit;                   // "Gs" or "T"
  int32_t nR = 0, nTheta = 0;         // nodes written
  double rMin = 0, rMax = 0, dR = 0;  // m, as written
  double thetaMin = 0, dTheta = 0;    // degree, as written
  bool resampled = false;             // the azimuths were resampled
  double largestChange = 0;           // T, resampled: the resampled turn, interpolated back to
                                      // the map's own azimuths, against the map (before the
                                      // values are written to 1e-5 T)
  double changeRadius = 0;            // m, where the largest change is
  double changeAzimuth = 0;           // degree
};

// The map as *.sdf text in unit ("Gs" or "T"; empty: the map's own unit where it is one of them,
// otherwise Gs). Where the azimuth step (or the first azimuth) has no three-decimal form, the map
// is resampled by exact trigonometric interpolation over the full turn onto dTheta (degree, at most
// three decimals, 360/dTheta whole), which is then required; without it the refusal names the
// nearest steps that can be written. A radius mesh that a *.sdf header cannot hold (steps unequal
// or not whole thousandths of a metre) is refused with that reason.
Result<SdfConversion> ConvertToSdf(const FieldMap& map, const std::string& unit,
                                   std::optional<double> dTheta);

// An azimuth step (degree) a *.sdf header can hold: at most three decimals, 360/step whole.
bool IsSdfAzimuthStep(double step);

// The steps a *.sdf header can hold near step (degree): the two nearest below and the two nearest
// above it, nearest first; and the nearest multiples of a quarter degree below and above it.
struct SdfAzimuthSteps {
  std::vector<double> nearest, quarters;
};
SdfAzimuthSteps NearestSdfAzimuthSteps(double step);

}  // namespace zuba
