// The completion of a given map to the full turn, and the checks of the reading options.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "calc/maps/map_formats.h"
#include "calc/maps/map_text.h"
#include "numerics/constants.h"
#include "numerics/units.h"

namespace zuba {

Outcome CheckMapReadingOptions(const MapReadingOptions& o) {
  if (o.replicate < 0 || o.replicate > kMaxReplicate)
    return ErrorFailure("--replicate " + std::to_string(o.replicate) +
                            ": the number of sectors must be 1 to " + std::to_string(kMaxReplicate),
                        "replicate", o.replicate, 1, kMaxReplicate);
  if (o.mirror && o.replicate == 0)
    return ErrorFailure(
        "--mirror completes half a sector to one sector: it needs --replicate N, the number of "
        "sectors",
        "mirror");
  if (static_cast<int32_t>(o.format) < 0 ||
      static_cast<int32_t>(o.format) > static_cast<int32_t>(kLastMapFormat) ||
      static_cast<int32_t>(o.rUnit) < 0 || static_cast<int32_t>(o.rUnit) > 2 ||
      static_cast<int32_t>(o.thetaUnit) < 0 || static_cast<int32_t>(o.thetaUnit) > 2 ||
      static_cast<int32_t>(o.bUnit) < 0 || static_cast<int32_t>(o.bUnit) > 3)
    return ErrorFailure("unknown map format or unit", "format");
  return {};
}

// ---- completion --------------------------------------------------------------------------------

namespace {

// The mesh as given: nodes, increasing radii, a positive azimuth step, the first azimuth within a
// turn of 0.
Outcome CheckGivenMesh(const GivenMap& g, std::string_view name) {
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  const int64_t c = g.nTheta;
  if (nR < 1 || c < 1 || static_cast<size_t>(nR * c) != g.field.size())
    return RefuseMapFile(name, "the map holds no nodes");
  for (int64_t i = 1; i < nR; ++i)
    if (!(g.radii[i - 1] < g.radii[i])) return RefuseMapFile(name, "the radii do not increase");
  if (!(g.dTheta > 0) || !(g.dThetaDegrees > 0))
    return RefuseMapFile(name, "the azimuth step must be above 0");
  if (!(std::fabs(g.thetaMin) <= kTwoPi * (1 + 1e-12)))
    return RefuseMapFile(name, "the first azimuth " + MessageNumber(Degrees(g.thetaMin)) +
                                   "\xC2\xB0 lies outside -360\xC2\xB0 .. 360\xC2\xB0");
  return {};
}

// The columns of g as the completion goes on: c of them per radius, `mesh` saying in the messages
// how the file spaces them; the difference between a dropped closing column and the first, -1
// where none was dropped.
struct Columns {
  int64_t c = 0;
  std::string mesh;
  double closing = -1;
};

// Half a sector from the first azimuth to the mirror plane at the last: the sector is the given
// columns, then the same columns back down to (not including) the first.
Outcome MirrorHalfSector(GivenMap& g, Columns& columns, int64_t sectors, std::string_view name) {
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  const int64_t c = columns.c;
  const double step = g.dThetaDegrees;   // degree
  const double tolerance = 1e-6 * step;  // degree: the steps of a file agree to far better
  const double half = 180.0 / sectors;
  if (c < 2 || std::fabs((c - 1) * step - half) > tolerance)
    return RefuseMapFile(
        name, "--mirror --replicate " + std::to_string(sectors) +
                  " takes half a sector, 180\xC2\xB0/" + std::to_string(sectors) + " = " +
                  MessageNumber(half) + "\xC2\xB0 from the first azimuth to the last; the " +
                  columns.mesh + " span " + MessageNumber((c - 1) * step) + "\xC2\xB0");
  auto column = [&](int64_t iR, int64_t j) -> double& { return g.field[iR * c + j]; };
  const int64_t sector = 2 * (c - 1);
  std::vector<double> mirrored(static_cast<size_t>(nR * sector));
  for (int64_t iR = 0; iR < nR; ++iR)
    for (int64_t j = 0; j < sector; ++j)
      mirrored[iR * sector + j] = column(iR, j < c ? j : sector - j);
  g.field = std::move(mirrored);
  columns.c = sector;
  return {};
}

// The refusal of a map that covers neither the full turn nor the full turn and a closing column;
// where its columns are one sector (or one and its closing column), it says so.
std::string NotFullTurnText(int64_t c, double step, const std::string& mesh) {
  std::string text = "the " + mesh + " cover " + MessageNumber(c * step) +
                     "\xC2\xB0, not the full turn (360\xC2\xB0, or 360\xC2\xB0 and a closing "
                     "column equal to the first)";
  for (const int64_t span : {c, c - 1}) {
    const double ratio = 360.0 / (span * step);
    if (span >= 1 && ratio >= 1.5 && std::fabs(ratio - std::round(ratio)) < 1e-6 * ratio &&
        std::round(ratio) <= kMaxReplicate) {
      text += "; one sector of " + MessageNumber(std::round(ratio)) +
              " is completed with --replicate " + MessageNumber(std::round(ratio));
      break;
    }
  }
  return text;
}

// Columns that cover the period (the full turn, or one sector of --replicate), without its closing
// column or with it; the closing column, the first one period later, is dropped.
Outcome KeepOnePeriod(GivenMap& g, Columns& columns, const MapReadingOptions& options,
                      std::string_view name) {
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  const int64_t c = columns.c;
  const int64_t sectors = options.replicate > 0 ? options.replicate : 1;
  const double step = g.dThetaDegrees;    // degree
  const double tolerance = 1e-6 * step;   // degree: the steps of a file agree to far better
  const double period = 360.0 / sectors;  // degree
  if (std::fabs(c * step - period) <= tolerance) return {};  // without its closing column
  if (c >= 2 && std::fabs((c - 1) * step - period) <= tolerance) {
    auto column = [&](int64_t iR, int64_t j) -> double& { return g.field[iR * c + j]; };
    double closing = 0;
    for (int64_t iR = 0; iR < nR; ++iR)
      closing = std::max(closing, std::fabs(column(iR, c - 1) - column(iR, 0)));
    std::vector<double> kept(static_cast<size_t>(nR * (c - 1)));
    for (int64_t iR = 0; iR < nR; ++iR) std::copy_n(&column(iR, 0), c - 1, &kept[iR * (c - 1)]);
    g.field = std::move(kept);
    columns.c = c - 1;
    columns.closing = closing;
    return {};
  }
  if (options.replicate == 0) return RefuseMapFile(name, NotFullTurnText(c, step, columns.mesh));
  return RefuseMapFile(name, "--replicate " + std::to_string(sectors) +
                                 " takes one sector, 360\xC2\xB0/" + std::to_string(sectors) +
                                 " = " + MessageNumber(period) + "\xC2\xB0 (" +
                                 MessageNumber(period / step) +
                                 " azimuths, or one more for the closing column); the " +
                                 columns.mesh + " cover " + MessageNumber(c * step) + "\xC2\xB0");
}

// The full turn of `full` columns: the c columns of g repeated, reversed and negated as the
// options say.
FieldMap FullTurnMap(GivenMap& g, const Columns& columns, int64_t full, MapFormat format,
                     const MapReadingOptions& options) {
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  const int64_t c = columns.c;
  FieldMap map;
  map.nR = static_cast<int32_t>(nR);
  map.nTheta = static_cast<int32_t>(full);
  map.unit = std::move(g.unit);
  map.format = format;
  map.closingDifference = columns.closing;
  map.radii = std::move(g.radii);
  const size_t count = static_cast<size_t>(nR * full);
  map.field.resize(count);
  map.moments.assign(count, 0.0);
  const double sign = options.negate ? -1.0 : 1.0;
  for (int64_t iR = 0; iR < nR; ++iR) {
    const double* given = &g.field[iR * c];
    double* out = &map.field[iR * full];
    for (int64_t j = 0; j < full; ++j) {
      // Reversed, the map's azimuth θ' = -θ: the column at θ' = -θmin + jΔ is the file's column at
      // θmin - jΔ, which is column (full - j) mod full of the full turn.
      const int64_t source = options.reverse ? (full - j) % full : j;
      out[j] = sign * given[source % c];
    }
  }
  const double delta = kTwoPi / static_cast<double>(full);  // rad
  map.thetaStart = options.reverse ? -g.thetaMin : g.thetaMin;
  map.azimuths.resize(static_cast<size_t>(full));
  for (int64_t j = 0; j < full; ++j)
    map.azimuths[j] = map.thetaStart + static_cast<double>(j) * delta;
  map.thetaEnd = map.thetaStart + kTwoPi;
  return map;
}

}  // namespace

Result<FieldMap> CompleteMap(GivenMap g, std::string_view name, MapFormat format,
                             const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  if (Outcome o = CheckGivenMesh(g, name); !o) return o;
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  const int64_t sectors = options.replicate > 0 ? options.replicate : 1;
  Columns columns;
  columns.c = g.nTheta;
  columns.mesh = std::to_string(columns.c) + " azimuths " + MessageNumber(g.dThetaDegrees) +
                 "\xC2\xB0 apart";  // "° apart"
  const Outcome period = options.mirror ? MirrorHalfSector(g, columns, sectors, name)
                                        : KeepOnePeriod(g, columns, options, name);
  if (!period) return period;

  const int64_t full = columns.c * sectors;
  if (full > kInt32Max || nR * full > kInt32Max)
    return RefuseMapFile(name, "the full turn would hold " + std::to_string(nR) + " x " +
                                   std::to_string(full) + " nodes, more than a map can");
  return FullTurnMap(g, columns, full, format, options);
}

// ---- a map made in memory -----------------------------------------------------------------------

Result<FieldMap> MapOfArrays(std::vector<double> radii, const std::vector<double>& azimuths,
                             std::vector<double> field) {
  auto refuse = [](const std::string& text) {
    Failure failure = ErrorFailure(text, "map");
    failure.message.owner = Owner::View;
    return failure;
  };
  const size_t nR = radii.size(), nTheta = azimuths.size();
  if (nR < 1) return refuse("r: the map needs at least one radius");
  if (nTheta < 2) return refuse("theta: the map needs at least two azimuths");
  if (static_cast<double>(nR) * static_cast<double>(nTheta) > kInt32Max)
    return refuse("b: " + std::to_string(nR) + " x " + std::to_string(nTheta) +
                  " nodes, more than a map can hold");
  if (field.size() != nR * nTheta)
    return refuse("b: " + std::to_string(field.size()) + " values, not len(r) x len(theta) = " +
                  std::to_string(nR) + " x " + std::to_string(nTheta));
  for (size_t i = 0; i < nR; ++i) {
    if (!std::isfinite(radii[i]))
      return refuse("r[" + std::to_string(i) + "] is not a finite number");
    if (i > 0 && !(radii[i - 1] < radii[i]))
      return refuse("r: the radii do not increase (r[" + std::to_string(i) +
                    "] = " + MessageNumber(radii[i]) + " m)");
  }
  if (radii.front() < 0)
    return refuse("r: the radius " + MessageNumber(radii.front()) + " m is negative");
  for (size_t k = 0; k < nTheta; ++k)
    if (!std::isfinite(azimuths[k]))
      return refuse("theta[" + std::to_string(k) + "] is not a finite number");
  for (size_t j = 0; j < field.size(); ++j)
    if (!std::isfinite(field[j]))
      return refuse("b[" + std::to_string(j / nTheta) + ", " + std::to_string(j % nTheta) +
                    "] is not a finite number");
  // The steps of one full turn, as the azimuths of a file are checked (to 1e-6 of a step).
  const double step = kTwoPi / static_cast<double>(nTheta);  // rad
  for (size_t k = 1; k < nTheta; ++k) {
    const double expected = azimuths.front() + static_cast<double>(k) * step;
    if (std::fabs(azimuths[k] - expected) > 1e-6 * step)
      return refuse("theta: " + std::to_string(nTheta) +
                    " azimuths must be one full turn at equal steps of 2 pi / " +
                    std::to_string(nTheta) + " rad without the closing azimuth; theta[" +
                    std::to_string(k) + "] = " + MessageNumber(azimuths[k]) + " rad where " +
                    MessageNumber(expected) + " rad is expected");
  }
  GivenMap given;
  given.unit = "T";
  given.radii = std::move(radii);
  given.thetaMin = azimuths.front();
  given.dTheta = step;
  given.dThetaDegrees = 360.0 / static_cast<double>(nTheta);
  given.nTheta = static_cast<int32_t>(nTheta);
  given.field = std::move(field);
  Result<FieldMap> map =
      CompleteMap(std::move(given), "theta", MapFormat::Table, MapReadingOptions{});
  if (map) {
    // The azimuths as given (a file's reader keeps its own sums of the step too), so that the
    // arrays of a map read from a file give that map again to the last bit.
    map->azimuths = azimuths;
    map->thetaStart = azimuths.front();
    map->thetaEnd = map->thetaStart + kTwoPi;
  }
  return map;
}

}  // namespace zuba
