// Reading of a *.sdf field map: unit token, radius and azimuth headers, then the field values
// radius by radius, converted to tesla.
#include "calc/maps/field_map.h"

#include <cmath>
#include <limits>
#include <new>
#include <string_view>

#include "calc/maps/map_text.h"
#include "numerics/constants.h"
#include "platform/files.h"
#include "results/text.h"

namespace zuba {
namespace {

// The token as a number (decimal, E or D exponent); not a number when it is anything else, which
// the header checks then refuse as they refuse a value out of range.
double TokenNumber(std::string_view token) {
  double value = 0;
  return ReadFileNumber(token, value) ? value : std::numeric_limits<double>::quiet_NaN();
}

// Header values are kept to 0.001 (m or degree), halves away from zero.
double RoundHeader(double x) {
  return std::round(x * 1000) * 0.001;
}

// A refusal of the map: its message, and what in the file is at fault.
Failure Refuse(const std::string& text, Owner owner, const char* subject = "",
               double value = std::numeric_limits<double>::quiet_NaN()) {
  Failure failure = ErrorFailure(text, subject, value);
  failure.message.owner = owner;
  return failure;
}

bool AllFinite(double a, double b, double c) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

// The mesh a *.sdf header gives: the first radius and the radius step (m), the node counts, and
// the first table azimuth as a whole multiple k0 of the azimuth step.
struct SdfMesh {
  double rMin = 0, dR = 0, k0 = 0;
  int32_t nR = 0, nTheta = 0;
};

// The radius and azimuth headers from the cursor on. A value that is not a finite number ("nan",
// "0x10", "12abc"), or a node count beyond 32 bits, is a header fault like a reversed range.
Result<SdfMesh> ReadSdfHeader(std::string_view text, std::size_t& cursor) {
  // Radius header, m.
  const double rMin = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  const double rMax = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  const double dR = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  if (!AllFinite(rMin, rMax, dR) || !(rMin < rMax) || !(dR > 0))
    return Refuse("Field map header error!", Owner::View, "dR", dR);
  const double nRReal = std::round((rMax - rMin) / dR) + 1;
  if (!(nRReal <= kInt32Max))
    return Refuse("Field map header error!", Owner::View, "radius nodes", nRReal);

  // Azimuth header, degrees.
  const double thetaMin = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  const double thetaMax = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  const double dTheta = RoundHeader(TokenNumber(ReadToken(text, cursor)));
  if (!AllFinite(thetaMin, thetaMax, dTheta) || !(thetaMin < thetaMax) || !(dTheta > 0))
    return Refuse("Magnetic field map header error!", Owner::View, "dTheta", dTheta);
  // No "+ 1": the column of thetaMax is the column of thetaMin one turn later. The first table
  // azimuth is thetaMin moved to the nearest whole multiple k0 of dTheta. A count of 0 (a step
  // over twice the turn) would leave the map without a single column.
  const double nThetaReal = std::round((thetaMax - thetaMin) / dTheta);
  const double k0 = std::round(thetaMin / dTheta);
  if (!(nThetaReal >= 1 && nThetaReal <= kInt32Max) || !(std::fabs(k0) <= kInt32Max) ||
      nRReal * nThetaReal > kInt32Max)
    return Refuse("Magnetic field map header error!", Owner::View, "azimuth nodes", nThetaReal);
  if (!(thetaMin + 360 - dTheta / 2 < thetaMax && thetaMax < thetaMin + 360 + dTheta / 2))
    return Refuse("Magnetic field map isn't full!", Owner::View, "thetaMax - thetaMin",
                  thetaMax - thetaMin);
  return SdfMesh{rMin, dR, k0, static_cast<int32_t>(nRReal), static_cast<int32_t>(nThetaReal)};
}

// The radii and azimuths of the mesh, each a running sum of its step.
void SetSdfMesh(FieldMap& map, const SdfMesh& mesh) {
  double radius = mesh.rMin;  // m, running sum
  for (double& r : map.radii) {
    r = radius;
    radius = radius + mesh.dR;
  }
  const double delta = kTwoPi / map.nTheta;  // rad
  double azimuth = mesh.k0 * delta;          // rad, running sum
  for (double& a : map.azimuths) {
    a = azimuth;
    azimuth = azimuth + delta;
  }
  map.thetaStart = map.azimuths[0];
  map.thetaEnd = map.thetaStart + kTwoPi;
}

// Values radius by radius, kept to 1e-5 T (0.1 Gs), halves away from zero.
Outcome ReadSdfValues(std::string_view text, std::size_t& cursor, bool gauss, FieldMap& map) {
  const std::size_t count = map.field.size();
  for (std::size_t k = 0; k < count; ++k) {
    const std::string_view token = ReadToken(text, cursor);
    if (token.empty())
      return Refuse("File Reading Error!", Owner::View, "values", static_cast<double>(count));
    double v = 0;
    if (!ReadFileNumber(token, v)) {
      const std::size_t nTheta = static_cast<std::size_t>(map.nTheta);
      const std::string where = "radius node " + std::to_string(k / nTheta + 1) +
                                ", azimuth node " + std::to_string(k % nTheta + 1);
      return Refuse("Field map value " + Quoted(token) + " at " + where + " is not a number!",
                    Owner::View, "values", static_cast<double>(k));
    }
    map.field[k] = gauss ? std::round(v * 10) * 1e-5 : std::round(v * 100000) * 1e-5;
  }
  return {};
}

}  // namespace

Result<FieldMap> ReadFieldMap(const std::string& path) {
  return ParseFieldMapFile(ReadWholeFile(path));
}

Result<FieldMap> ParseFieldMapFile(const FileBytes& file) {
  if (file.status == ReadStatus::CannotOpen)
    return Refuse("Can not Open File!", Owner::None, "file");
  if (file.status == ReadStatus::CannotAllocate)
    return Refuse("Memory Allocation Error!", Owner::None, "file");
  return ParseFieldMap(file.bytes);
}

Result<FieldMap> ParseFieldMap(std::string_view text) {
  if (text.empty()) return Refuse("The file is empty!", Owner::None, "file");
  std::size_t cursor = 0;

  FieldMap map;
  const std::string_view unit = ReadToken(text, cursor);
  if (unit != "Gs" && unit != "T") return Refuse("Field Map Unit Error!", Owner::View, "unit");
  map.unit = std::string(unit);
  const bool gauss = unit == "Gs";

  const Result<SdfMesh> mesh = ReadSdfHeader(text, cursor);
  if (!mesh) return mesh.outcome();
  map.nR = mesh->nR;
  map.nTheta = mesh->nTheta;
  const std::size_t count = static_cast<std::size_t>(map.nR) * static_cast<std::size_t>(map.nTheta);

  // Every value needs one separator before it and one character of its own: a file too short for
  // that would run out of values anyway, so it is refused before the tables are made.
  if (text.size() - cursor < 2 * count)
    return Refuse("File Reading Error!", Owner::View, "values", static_cast<double>(count));

  try {
    map.radii.resize(static_cast<std::size_t>(map.nR));
    map.azimuths.resize(static_cast<std::size_t>(map.nTheta));
    map.field.resize(count);
    map.moments.assign(count, 0.0);
  } catch (const std::bad_alloc&) {
    return Refuse("Memory Allocation Error!", Owner::None, "values", static_cast<double>(count));
  }
  SetSdfMesh(map, *mesh);
  if (Outcome values = ReadSdfValues(text, cursor, gauss, map); !values) return values;
  return map;
}

}  // namespace zuba
