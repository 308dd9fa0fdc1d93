// The header numbers of the polar and the record maps, one number alone on each of their first
// lines, and the mesh they give.
#pragma once

#include <cstdint>
#include <string_view>

#include "calc/maps/map_formats.h"
#include "calc/maps/map_text.h"

namespace zuba {

// The first `count` header numbers (r_min (mm), the radius step (mm), theta_min (degree), the
// azimuth step (degree), N_theta, N_r), each with the number of its line.
bool HeaderNumbers(Lines& lines, std::string_view name, int count, double* header,
                   int64_t* headerLine, Failure& failure);

// A step of the header: a negative value stands for its reciprocal (-3 is 1/3).
bool HeaderStep(double given, double& step);

// The mesh of the header numbers: radii from r_min every Δr (mm), azimuths from θ_min every Δθ
// (degree).
void SetHeaderMesh(GivenMap& g, double rMinMm, double dRMm, int64_t nR, double thetaMinDegrees,
                   double dThetaDegrees, int64_t nTheta);

}  // namespace zuba
