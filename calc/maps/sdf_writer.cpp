// *.sdf text of a field map: header and values as the reader keeps them, and the azimuthal
// resampling of maps whose step the header cannot hold.
#include "calc/maps/sdf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "numerics/constants.h"
#include "numerics/trig_interpolation.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// rad per degree. A function, not a constant of this file: kPi is itself initialised at start-up
// (4 * atan(1)), and a constant formed from it at namespace scope may be initialised before it.
double Degree() {
  return kPi / 180;
}

std::string Num(double value, NumberFormat format = Significant(9)) {
  return FormatNumber(value, format);
}

// A header value in thousandths (of a metre or a degree) written with three decimals.
std::string Thousandths(long long value) {
  const unsigned long long magnitude = static_cast<unsigned long long>(std::llabs(value));
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%llu.%03llu", value < 0 ? "-" : "", magnitude / 1000,
                magnitude % 1000);
  return buffer;
}

// x is a whole number of thousandths, up to the rounding of the arithmetic that made it.
bool WholeThousandths(double x) {
  const double t = x * 1000;
  return std::isfinite(t) && std::fabs(t) < 9e15 && std::fabs(t - std::round(t)) <= 1e-6;
}

Failure Refusal(std::string text) {
  return ErrorFailure(std::move(text), "map");
}

// The radius mesh of a .sdf header: r_min and the step in whole thousandths of a metre, the steps
// equal.
Outcome CheckSdfRadii(const FieldMap& map, long long& rMinMm, long long& dRMm) {
  const int32_t nR = map.nR;
  const double rMin = map.radii.front();
  const double dR = (map.radii.back() - rMin) / (nR - 1);  // m
  for (int32_t i = 1; i < nR; ++i)
    if (std::fabs(map.radii[i] - (rMin + i * dR)) > 1e-6 * dR)
      return Refusal("the radii are not equally spaced (" + Num(map.radii[i]) +
                     " m where the step " + Num(dR) + " m puts " + Num(rMin + i * dR) +
                     " m); a .sdf map holds equally spaced radii");
  if (!WholeThousandths(dR) || std::llround(dR * 1000) < 1)
    return Refusal("the radius step " + Num(dR) +
                   " m cannot be written in a .sdf header, which keeps 0.001 m");
  if (!WholeThousandths(rMin))
    return Refusal("the first radius " + Num(rMin) +
                   " m cannot be written in a .sdf header, which keeps 0.001 m");
  rMinMm = std::llround(rMin * 1000);
  dRMm = std::llround(dR * 1000);
  return {};
}

// The steps of a refusal, "a, b, c{joint}d".
std::string StepList(const std::vector<double>& values, const char* joint) {
  std::string text;
  for (size_t k = 0; k < values.size(); ++k)
    text += (k == 0 ? "" : k + 1 == values.size() ? joint : ", ") + Num(values[k], Significant(3));
  return text;
}

// The azimuth step written (degree): the asked one, or the map's own step 360/n when the header
// can hold it.
Result<double> SdfAzimuthStep(int32_t n, std::optional<double> dThetaAsked) {
  const double step = 360.0 / n;  // degree
  if (dThetaAsked) {
    if (!IsSdfAzimuthStep(*dThetaAsked))
      return Refusal("--dtheta " + Num(*dThetaAsked) +
                     ": a .sdf azimuth step has at most three decimals and divides 360 degrees "
                     "into a whole number of steps");
    return *dThetaAsked;
  }
  if (IsSdfAzimuthStep(step)) return step;
  const SdfAzimuthSteps steps = NearestSdfAzimuthSteps(step);
  return Refusal("the azimuth step 360/" + std::to_string(n) + " = " + Num(step, Significant(6)) +
                 " degree cannot be written in a .sdf header, which keeps three decimals; "
                 "resample the map with --dtheta D, the nearest steps that can be written being " +
                 StepList(steps.nearest, ", ") +
                 (steps.quarters.empty()
                      ? ""
                      : ", or in quarter degrees " + StepList(steps.quarters, " or ")));
}

// The values written: the map's own, or the trigonometric interpolant of each radius at the
// azimuths of `out` (in units of the map's step from its first azimuth); a resampling also notes
// in `out` what it lost.
std::vector<double> SdfValues(const FieldMap& map, SdfConversion& out) {
  const int32_t nR = map.nR, n = map.nTheta, m = out.nTheta;
  const double step = 360.0 / n;                   // degree
  const double first = map.thetaStart / Degree();  // degree
  const double start = out.thetaMin, dTheta = out.dTheta;
  if (!out.resampled) return map.field;
  std::vector<double> values(static_cast<size_t>(nR) * static_cast<size_t>(m));
  std::vector<double> there(static_cast<size_t>(m)), back(static_cast<size_t>(n));
  for (int32_t i = 0; i < m; ++i) there[i] = (start + i * dTheta - first) / step;
  for (int32_t j = 0; j < n; ++j) back[j] = (first + j * step - start) / dTheta;
  PeriodicResampler(n, there).Apply(map.field, values);
  // The resampled turn interpolated back to the map's azimuths: what the resampling lost (the
  // harmonics of a coarser step). The writing to 1e-5 T comes on top, as for any *.sdf map.
  std::vector<double> again(map.field.size());
  PeriodicResampler(m, back).Apply(values, again);
  for (size_t k = 0; k < again.size(); ++k) {
    const double change = std::fabs(again[k] - map.field[k]);
    if (change > out.largestChange) {
      out.largestChange = change;
      out.changeRadius = map.radii[k / static_cast<size_t>(n)];
      out.changeAzimuth = first + static_cast<double>(k % static_cast<size_t>(n)) * step;
    }
  }
  return values;
}

// The text of the file: the unit, the radius and azimuth headers (thousandths of a metre and of a
// degree; the first azimuth k0 steps of dThetaK), the values ten a line and a radius a block.
void WriteSdfText(SdfConversion& out, const std::vector<double>& values, long long rMinMm,
                  long long dRMm, long long k0, long long dThetaK) {
  const bool gauss = out.unit == "Gs";
  const int32_t nR = out.nR, m = out.nTheta;
  const long long rMaxMm = rMinMm + static_cast<long long>(nR - 1) * dRMm;
  std::string& text = out.text;
  text.reserve(values.size() * 10 + 100);
  text += out.unit + "\n";
  text += Thousandths(rMinMm) + " " + Thousandths(rMaxMm) + " " + Thousandths(dRMm) + "\n";
  text += Thousandths(k0 * dThetaK) + " " + Thousandths(k0 * dThetaK + 360000) + " " +
          Thousandths(dThetaK) + "\n";
  for (int32_t iR = 0; iR < nR; ++iR) {
    for (int32_t j = 0; j < m; ++j) {
      text += SdfValueText(values[static_cast<size_t>(iR) * m + j], gauss);
      text += (j % 10 == 9 || j + 1 == m) ? '\n' : ' ';
    }
  }
}

}  // namespace

double RoundSdfHeader(double x) {
  return std::round(x * 1000) * 0.001;
}

std::string SdfValueText(double tesla, bool gauss) {
  const long long steps = std::llround(tesla * 100000);  // units of 1e-5 T = 0.1 Gs
  const unsigned long long magnitude = static_cast<unsigned long long>(std::llabs(steps));
  char buffer[48];
  if (gauss)
    std::snprintf(buffer, sizeof buffer, "%s%llu.%llu", steps < 0 ? "-" : "", magnitude / 10,
                  magnitude % 10);
  else
    std::snprintf(buffer, sizeof buffer, "%s%llu.%05llu", steps < 0 ? "-" : "", magnitude / 100000,
                  magnitude % 100000);
  return buffer;
}

bool IsSdfAzimuthStep(double step) {
  if (!(step > 0 && step <= 360) || !WholeThousandths(step)) return false;
  const long long thousandths = std::llround(step * 1000);
  return thousandths > 0 && 360000 % thousandths == 0;
}

SdfAzimuthSteps NearestSdfAzimuthSteps(double step) {
  // The steps that can be written are 360/n degree for the divisors n of 360000.
  std::vector<long long> steps;  // thousandths of a degree, ascending
  for (long long n = 360000; n >= 1; --n)
    if (360000 % n == 0) steps.push_back(360000 / n);
  const double t = step * 1000;
  const auto above =
      std::upper_bound(steps.begin(), steps.end(), static_cast<long long>(std::floor(t)));
  std::vector<long long> below(steps.begin(), above);
  std::vector<long long> chosen;
  for (size_t k = 0; k < 2 && k < below.size(); ++k) chosen.push_back(below[below.size() - 1 - k]);
  for (auto it = above; it != steps.end() && it - above < 2; ++it) chosen.push_back(*it);
  std::sort(chosen.begin(), chosen.end(),
            [t](long long a, long long b) { return std::fabs(a - t) < std::fabs(b - t); });
  SdfAzimuthSteps out;
  for (long long s : chosen) out.nearest.push_back(s / 1000.0);
  // The nearest multiples of a quarter degree on either side: meshes with nodes on whole degrees.
  for (auto it = below.rbegin(); it != below.rend(); ++it)
    if (*it % 250 == 0) {
      out.quarters.push_back(*it / 1000.0);
      break;
    }
  for (auto it = above; it != steps.end(); ++it)
    if (*it % 250 == 0) {
      out.quarters.push_back(*it / 1000.0);
      break;
    }
  return out;
}

Result<SdfConversion> ConvertToSdf(const FieldMap& map, const std::string& unitAsked,
                                   std::optional<double> dThetaAsked) {
  SdfConversion out;
  out.unit = !unitAsked.empty()                      ? unitAsked
             : (map.unit == "Gs" || map.unit == "T") ? map.unit
                                                     : "Gs";
  if (out.unit != "Gs" && out.unit != "T")
    return Refusal("the unit of a .sdf map is Gs or T, not " + out.unit);
  const int32_t nR = map.nR, n = map.nTheta;
  if (nR < 2 || n < 1 || map.radii.size() != static_cast<size_t>(nR) ||
      map.field.size() != static_cast<size_t>(nR) * static_cast<size_t>(n))
    return Refusal("a .sdf map needs two radii or more");

  for (double b : map.field)
    if (!(std::fabs(b) < 1e9))
      return Refusal("the field value " + Num(b) + " T cannot be written in a .sdf map");

  long long rMinMm = 0, dRMm = 0;
  if (Outcome radii = CheckSdfRadii(map, rMinMm, dRMm); !radii) return radii;

  // The azimuths: the map's own step and first azimuth when the header can hold them, else the
  // asked step from the multiple of it nearest to the first azimuth.
  const Result<double> asked = SdfAzimuthStep(n, dThetaAsked);
  if (!asked) return asked.outcome();
  const double dTheta = *asked;
  const double first = map.thetaStart / Degree();         // degree
  const long long dThetaK = std::llround(dTheta * 1000);  // thousandths of a degree
  const long long k0 = std::llround(first / dTheta);
  const int32_t m = static_cast<int32_t>(360000 / dThetaK);
  const double start = static_cast<double>(k0) * dTheta;  // degree, first written azimuth
  out.resampled = m != n || std::fabs(first - start) > 1e-9 * dTheta;

  out.nR = nR;
  out.nTheta = m;
  out.rMin = rMinMm / 1000.0;
  out.rMax = (rMinMm + static_cast<long long>(nR - 1) * dRMm) / 1000.0;
  out.dR = dRMm / 1000.0;
  out.thetaMin = start;
  out.dTheta = dTheta;
  WriteSdfText(out, SdfValues(map, out), rMinMm, dRMm, k0, dThetaK);
  return out;
}

}  // namespace zuba
