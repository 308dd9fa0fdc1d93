// Writing a field map in every format that is read (see map_writers.h).
#include "calc/maps/map_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "calc/maps/map_text.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/numbers.h"

namespace zuba {
namespace {

// Values a line of the polar and polar-mesh maps.
constexpr int kValuesPerLine = 8;

std::string Number(double value) {
  return FormatNumber(value);  // the shortest text that reads back as the same double
}

// The radius step (m) of a map whose radii are equally spaced (to 1e-9 of the step); a refusal
// naming the first radius off the even mesh otherwise.
Outcome EvenRadii(const FieldMap& map, const char* format, double& step) {
  const size_t n = map.radii.size();
  step = n >= 2 ? (map.radii.back() - map.radii.front()) / static_cast<double>(n - 1) : 0;
  for (size_t i = 1; i + 1 < n; ++i) {
    const double even = map.radii.front() + static_cast<double>(i) * step;
    if (std::fabs(map.radii[i] - even) > 1e-9 * step)
      return ErrorFailure(std::string("a ") + format +
                              " map holds radii at equal steps; this map's radius " +
                              std::to_string(i + 1) + " lies at " + MessageNumber(map.radii[i]) +
                              " m, not " + MessageNumber(even) + " m",
                          "radii", map.radii[i]);
  }
  return {};
}

// Every radius in `rUnit` per metre and every value in `bUnit` per tesla a finite number (a file
// of mm or cm and kG cannot hold a value beyond the range of a double).
Outcome FiniteInUnits(const FieldMap& map, double rUnit, double bUnit, const char* format) {
  for (double r : map.radii)
    if (!std::isfinite(r * rUnit))
      return ErrorFailure(std::string("the radius ") + MessageNumber(r) + " m is beyond what a " +
                              format + " map can write",
                          "radii", r);
  for (double b : map.field)
    if (!std::isfinite(b * bUnit))
      return ErrorFailure(std::string("the field ") + MessageNumber(b) + " T is beyond what a " +
                              format + " map can write in kG",
                          "field", b);
  return {};
}

// Appends values, kValuesPerLine a line.
class ValueLines {
 public:
  explicit ValueLines(std::string& text) : text_(text) {}
  void Add(double value) {
    text_ += count_ % kValuesPerLine == 0 ? (count_ == 0 ? "" : "\n") : " ";
    text_ += Number(value);
    ++count_;
  }
  void End() {
    if (count_ > 0) text_ += '\n';
    count_ = 0;
  }

 private:
  std::string& text_;
  int64_t count_ = 0;
};

// Whether a column's values lie far enough apart for the table reader to tell them apart: it takes
// values closer than 1e-9 of the column's range (or magnitude) for one.
bool Distinct(const std::vector<double>& values) {
  if (values.size() < 2) return true;
  const double scale = std::max(
      {std::fabs(values.front()), std::fabs(values.back()), values.back() - values.front()});
  for (size_t i = 1; i < values.size(); ++i)
    if (!(values[i] - values[i - 1] > 1e-9 * scale)) return false;
  return true;
}

}  // namespace

Result<std::string> PolarMapText(const FieldMap& map) {
  double dR = 0;
  if (Outcome finite = FiniteInUnits(map, 1000, 10, "polar"); !finite) return finite;
  if (Outcome even = EvenRadii(map, "polar", dR); !even) return even;
  if (map.radii.front() < 0)
    return ErrorFailure("a polar map's r_min must not be negative", "radii", map.radii.front());
  // 360/N degree; a step of 1/k degree written as -k, as the format writes 1/3 degree.
  std::string step;
  if (map.nTheta > 360 && map.nTheta % 360 == 0)
    step = std::to_string(-(map.nTheta / 360));
  else
    step = Number(360.0 / map.nTheta);
  std::string text;
  for (const std::string& line :
       {Number(map.radii.front() * 1000), Number(map.nR >= 2 ? dR * 1000 : 1.0),
        Number(Degrees(map.thetaStart)), step, std::to_string(map.nTheta), std::to_string(map.nR)})
    text += line + '\n';
  ValueLines values(text);
  for (double b : map.field) values.Add(b * 10);  // T -> kG
  values.End();
  return text;
}

Result<std::string> TableMapText(const FieldMap& map) {
  std::vector<double> degrees;
  for (double theta : map.azimuths) degrees.push_back(Degrees(theta));
  if (!Distinct(map.radii) || !Distinct(degrees))
    return ErrorFailure(
        "a table tells its nodes apart to 1e-9 of their range; this map's radii or azimuths lie "
        "closer than that",
        "radii");
  // A turn of one azimuth needs its closing azimuth, one turn on, to show its step.
  const int32_t columns = map.nTheta == 1 ? 2 : map.nTheta;
  if (map.nTheta == 1) degrees.push_back(degrees.front() + 360);
  std::string text = "R_m\ttheta_deg\tB_T\n";
  for (int32_t i = 0; i < map.nR; ++i) {
    const std::string r = Number(map.radii[static_cast<size_t>(i)]);
    for (int32_t j = 0; j < columns; ++j) {
      text += r;
      text += '\t';
      text += Number(degrees[static_cast<size_t>(j)]);
      text += '\t';
      text += Number(map.field[static_cast<size_t>(i) * map.nTheta + j % map.nTheta]);
      text += '\n';
    }
  }
  return text;
}

Result<std::string> PolarMeshText(const FieldMap& map) {
  double dR = 0;
  if (Outcome finite = FiniteInUnits(map, 100, 10, "polar-mesh"); !finite) return finite;
  if (Outcome even = EvenRadii(map, "polar-mesh", dR); !even) return even;
  const int64_t azimuths = map.nTheta + 1;  // the full turn and its closing azimuth
  char header[160];
  // The reference radius: the middle of the radii (cm), in the fewest digits that hold it.
  const std::string reference = Number((map.radii.front() + map.radii.back()) / 2 * 100);
  std::snprintf(header, sizeof header, "%12lld%12d%12.6f %15s%16d%12d\n",
                static_cast<long long>(azimuths), map.nR, 360.0, reference.c_str(), 1, 1);
  std::string text = "ZUBA median-plane field map, polar mesh of the full turn\n";
  text += std::to_string(azimuths) + " azimuths (rad, the last closing the turn), " +
          std::to_string(map.nR) + " radii (cm)\n";
  text += "then B_z (kG) radius by radius, azimuth fastest\n";
  text += header;
  ValueLines values(text);
  const double step = kTwoPi / map.nTheta;  // rad
  for (int64_t k = 0; k < azimuths; ++k) values.Add(map.thetaStart + static_cast<double>(k) * step);
  values.End();
  for (double r : map.radii) values.Add(r * 100);  // m -> cm
  values.End();
  for (int32_t i = 0; i < map.nR; ++i) {
    const double* row = &map.field[static_cast<size_t>(i) * map.nTheta];
    for (int64_t k = 0; k < azimuths; ++k) values.Add(row[k % map.nTheta] * 10);  // T -> kG
    values.End();
  }
  return text;
}

Result<MapFileText> WriteMapText(const FieldMap& map, const MapWriting& how) {
  MapFileText out;
  switch (how.format) {
    case MapFormat::Polar: {
      Result<std::string> text = PolarMapText(map);
      if (!text) return text.outcome();
      out.text = std::move(*text);
      return out;
    }
    case MapFormat::Table: {
      Result<std::string> text = TableMapText(map);
      if (!text) return text.outcome();
      out.text = std::move(*text);
      return out;
    }
    case MapFormat::PolarMesh: {
      Result<std::string> text = PolarMeshText(map);
      if (!text) return text.outcome();
      out.text = std::move(*text);
      return out;
    }
    case MapFormat::Sdf:
    case MapFormat::Auto:
      break;
    case MapFormat::Records:
      return ErrorFailure(
          "a measured-record map keeps the azimuthal derivatives of B_z, which a map read "
          "from a file does not hold: it is read, not written",
          "format");
  }
  Result<SdfConversion> sdf = ConvertToSdf(map, how.sdfUnit, how.sdfDTheta);
  if (!sdf) return sdf.outcome();
  out.text = sdf->text;
  out.sdf = std::move(*sdf);
  return out;
}

}  // namespace zuba
