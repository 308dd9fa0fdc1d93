// The header numbers of the polar and the record maps (see lab_headers.h).
#include "calc/maps/lab_headers.h"

#include <cmath>
#include <string>

#include "numerics/units.h"

namespace zuba {
namespace {

// One number alone on the next line that holds anything: the header lines of the polar and the
// record maps. `what` names the number for the message.
bool HeaderNumber(Lines& lines, std::string_view name, const std::string& what, double& value,
                  Failure& failure) {
  std::string_view line;
  if (!lines.NextContent(line)) {
    failure = RefuseMapFile(name, "the file ends before the header number " + what);
    return false;
  }
  const std::string_view word = TrimBlanks(line);
  if (CountWords(word) != 1 || !ReadFileNumber(word, value)) {
    failure = RefuseMapFile(name, LineText(lines.number()) + "expected " + what +
                                      ", one number alone on its line, found " + Quoted(word));
    return false;
  }
  return true;
}

// The header numbers of the polar map, one a line; the record map has the first four.
const char* const kHeaderNumbers[6] = {"r_min (mm)",
                                       "the radius step (mm)",
                                       "theta_min (degree)",
                                       "the azimuth step (degree)",
                                       "N_theta (azimuths per radius)",
                                       "N_r (radii)"};

}  // namespace

// A step of the header: a negative value stands for its reciprocal (-3 is 1/3).
bool HeaderStep(double given, double& step) {
  step = given < 0 ? -1 / given : given;
  return std::isfinite(step) && step > 0;
}

bool HeaderNumbers(Lines& lines, std::string_view name, int count, double* header,
                   int64_t* headerLine, Failure& failure) {
  for (int k = 0; k < count; ++k) {
    if (!HeaderNumber(lines, name, kHeaderNumbers[k], header[k], failure)) return false;
    headerLine[k] = lines.number();
  }
  return true;
}

// The mesh of the header numbers: radii from r_min every Δr (mm), azimuths from θ_min every Δθ
// (degree).
void SetHeaderMesh(GivenMap& g, double rMinMm, double dRMm, int64_t nR, double thetaMinDegrees,
                   double dThetaDegrees, int64_t nTheta) {
  g.radii.resize(static_cast<size_t>(nR));
  for (int64_t i = 0; i < nR; ++i)
    g.radii[i] = (rMinMm + static_cast<double>(i) * dRMm) / 1000;  // mm -> m
  g.thetaMin = Radians(thetaMinDegrees);
  g.dTheta = Radians(dThetaDegrees);
  g.dThetaDegrees = dThetaDegrees;
  g.nTheta = static_cast<int32_t>(nTheta);
}

}  // namespace zuba
