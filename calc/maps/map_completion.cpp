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
  if (static_cast<int32_t>(o.format) < 0 || static_cast<int32_t>(o.format) > static_cast<int32_t>(kLastMapFormat) ||
      static_cast<int32_t>(o.rUnit) < 0 || static_cast<int32_t>(o.rUnit) > 2 ||
      static_cast<int32_t>(o.thetaUnit) < 0 || static_cast<int32_t>(o.thetaUnit) > 2 ||
      static_cast<int32_t>(o.bUnit) < 0 || static_cast<int32_t>(o.bUnit) > 3)
    return ErrorFailure("unknown map format or unit", "format");
  return {};
}

// ---- completion --------------------------------------------------------------------------------

Result<FieldMap> CompleteMap(GivenMap g, std::string_view name, MapFormat format,
                             const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  const int64_t nR = static_cast<int64_t>(g.radii.size());
  int64_t c = g.nTheta;
  if (nR < 1 || c < 1 || static_cast<size_t>(nR * c) != g.field.size())
    return RefuseMapFile(name, "the map holds no nodes");
  for (int64_t i = 1; i < nR; ++i)
    if (!(g.radii[i - 1] < g.radii[i])) return RefuseMapFile(name, "the radii do not increase");
  if (!(g.dTheta > 0) || !(g.dThetaDegrees > 0))
    return RefuseMapFile(name, "the azimuth step must be above 0");
  if (!(std::fabs(g.thetaMin) <= kTwoPi * (1 + 1e-12)))
    return RefuseMapFile(name, "the first azimuth " + MessageNumber(Degrees(g.thetaMin)) +
                                   "\xC2\xB0 lies outside -360\xC2\xB0 .. 360\xC2\xB0");

  const int64_t sectors = options.replicate > 0 ? options.replicate : 1;
  const double step = g.dThetaDegrees;   // degree
  const double tolerance = 1e-6 * step;  // degree: the steps of a file agree to far better
  const std::string mesh =
      std::to_string(c) + " azimuths " + MessageNumber(step) + "\xC2\xB0 apart";  // "° apart"
  double closing = -1;

  auto column = [&](int64_t iR, int64_t j) -> double& { return g.field[iR * c + j]; };
  if (options.mirror) {
    // Half a sector from the first azimuth to the mirror plane at the last: the sector is the
    // given columns, then the same columns back down to (not including) the first.
    const double half = 180.0 / sectors;
    if (c < 2 || std::fabs((c - 1) * step - half) > tolerance)
      return RefuseMapFile(name, "--mirror --replicate " + std::to_string(sectors) +
                                     " takes half a sector, 180\xC2\xB0/" +
                                     std::to_string(sectors) + " = " + MessageNumber(half) +
                                     "\xC2\xB0 from the first azimuth to the last; the " + mesh +
                                     " span " + MessageNumber((c - 1) * step) + "\xC2\xB0");
    const int64_t sector = 2 * (c - 1);
    std::vector<double> mirrored(static_cast<size_t>(nR * sector));
    for (int64_t iR = 0; iR < nR; ++iR)
      for (int64_t j = 0; j < sector; ++j)
        mirrored[iR * sector + j] = column(iR, j < c ? j : sector - j);
    g.field = std::move(mirrored);
    c = sector;
  } else {
    const double period = 360.0 / sectors;  // degree
    if (std::fabs(c * step - period) <= tolerance) {
      // The columns cover the period without its closing column.
    } else if (c >= 2 && std::fabs((c - 1) * step - period) <= tolerance) {
      // The last column is the first one period later: dropped.
      closing = 0;
      for (int64_t iR = 0; iR < nR; ++iR)
        closing = std::max(closing, std::fabs(column(iR, c - 1) - column(iR, 0)));
      std::vector<double> kept(static_cast<size_t>(nR * (c - 1)));
      for (int64_t iR = 0; iR < nR; ++iR) std::copy_n(&column(iR, 0), c - 1, &kept[iR * (c - 1)]);
      g.field = std::move(kept);
      c -= 1;
    } else if (options.replicate == 0) {
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
      return RefuseMapFile(name, text);
    } else {
      return RefuseMapFile(name, "--replicate " + std::to_string(sectors) +
                                     " takes one sector, 360\xC2\xB0/" + std::to_string(sectors) +
                                     " = " + MessageNumber(period) + "\xC2\xB0 (" +
                                     MessageNumber(period / step) +
                                     " azimuths, or one more for the closing column); the " + mesh +
                                     " cover " + MessageNumber(c * step) + "\xC2\xB0");
    }
  }

  const int64_t full = c * sectors;
  if (full > kInt32Max || nR * full > kInt32Max)
    return RefuseMapFile(name, "the full turn would hold " + std::to_string(nR) + " x " +
                                   std::to_string(full) + " nodes, more than a map can");

  FieldMap map;
  map.nR = static_cast<int32_t>(nR);
  map.nTheta = static_cast<int32_t>(full);
  map.unit = std::move(g.unit);
  map.format = format;
  map.closingDifference = closing;
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

}  // namespace zuba
