// Fuzz target of one of the readers of laboratory field maps (the polar map, the measured-record
// map, the column table; chosen at build time by ZUBA_FUZZ_READER): any bytes give either a full
// turn whose tables agree with its node counts, or one line that names the file. Each input is
// read as it is and with sector options of its own choosing (replicate, mirror, negate, reverse).
// A map that is read is written as *.sdf where that needs no resampling of a large turn, and the
// text must read back with the same node counts; written in the other formats (polar, table, polar
// mesh) it must read back as the same map.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "calc/maps/field_map.h"
#include "calc/maps/map_formats.h"
#include "calc/maps/map_writers.h"
#include "calc/maps/sdf_writer.h"
#include "tools/fuzz/silent_messages.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckRead(std::string_view bytes, const zuba::MapReadingOptions& options) {
  using namespace zuba;
  Result<FieldMap> map = ZUBA_FUZZ_READER(bytes, "fuzz.map", options);
  if (!map) {
    const std::string& text = map.message().text;
    Check(text.rfind("fuzz.map: ", 0) == 0 && text.find('\n') == std::string::npos);
    return;
  }
  const std::size_t count =
      static_cast<std::size_t>(map->nR) * static_cast<std::size_t>(map->nTheta);
  Check(map->nR >= 1 && map->nTheta >= 1);
  Check(map->radii.size() == static_cast<std::size_t>(map->nR));
  Check(map->azimuths.size() == static_cast<std::size_t>(map->nTheta));
  Check(map->field.size() == count && map->moments.size() == count);
  // Every value of the file takes at least one byte; the turn repeats them at most 2 x 360 times.
  Check(count <= 2 * std::size_t(kMaxReplicate) * (bytes.size() + 1));
  for (std::size_t i = 1; i < map->radii.size(); ++i) Check(map->radii[i - 1] < map->radii[i]);
  for (std::size_t j = 1; j < map->azimuths.size(); ++j)
    Check(map->azimuths[j - 1] < map->azimuths[j]);
  for (double b : map->field) Check(std::isfinite(b));
  Check(std::fabs(map->thetaEnd - map->thetaStart - 8 * std::atan(1.0)) < 1e-9);

  for (zuba::MapFormat format : {MapFormat::Polar, MapFormat::Table, MapFormat::PolarMesh}) {
    if (count > 4096) break;
    Result<MapFileText> text = WriteMapText(*map, MapWriting{format, "", std::nullopt});
    if (!text) {
      Check(text.message().text.find('\n') == std::string::npos);
      continue;
    }
    MapReadingOptions as;
    as.format = format;
    Result<FieldMap> back = ParseMap(text->text, "written", as);
    Check(back.ok() && back->nR == map->nR && back->nTheta == map->nTheta);
    for (std::size_t k = 0; k < count; ++k)
      Check(std::fabs(back->field[k] - map->field[k]) <= 1e-12 * (1 + std::fabs(map->field[k])));
  }

  if (map->nTheta <= 2048) {
    Result<SdfConversion> sdf = ConvertToSdf(*map, "", std::nullopt);
    if (sdf) {
      Result<FieldMap> back = ParseFieldMap(sdf->text);
      Check(back.ok() && back->nR == map->nR && back->nTheta == sdf->nTheta);
    } else {
      Check(!sdf.message().text.empty() && sdf.message().text.find('\n') == std::string::npos);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuba;
  static SilentMessages* messages = new SilentMessages;  // installed for the whole run
  (void)messages;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  CheckRead(bytes, MapReadingOptions{});
  // Sector options from the input's last byte.
  const unsigned last = size > 0 ? data[size - 1] : 0;
  MapReadingOptions options;
  options.replicate = 1 + static_cast<int32_t>(last % 8);
  options.mirror = (last & 8) != 0;
  options.negate = (last & 16) != 0;
  options.reverse = (last & 32) != 0;
  CheckRead(bytes, options);
  return 0;
}
