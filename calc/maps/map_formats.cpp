// The choice of a map's reader by its content, and the one entry that reads a map file of any
// format with the reading options of a run.
#include "calc/maps/map_formats.h"

#include <cmath>
#include <cstring>
#include <string>

#include "calc/maps/map_text.h"
#include "calc/maps/table_map.h"
#include "platform/files.h"
#include "results/text.h"

namespace zuba {

namespace {

// Six numbers on a line, the first two counts (1 ..), the last two whole: the header line of a
// polar-mesh map.
bool IsSixNumberLine(std::string_view line, bool checkCounts) {
  double v[6] = {};
  int count = 0;
  bool numbers = true;
  ForEachWord(line, [&](std::string_view word) {
    if (count < 6 && !ReadFileNumber(word, v[count])) numbers = false;
    ++count;
    return numbers;
  });
  if (!numbers || count != 6) return false;
  if (!checkCounts) return true;
  int64_t n = 0;
  return WholeCount(v[0], n) && WholeCount(v[1], n) && v[4] == std::floor(v[4]) &&
         v[5] == std::floor(v[5]) && v[2] > 0;
}

// Three lines of anything, then the header line of six numbers, which the lines before it are
// not.
bool LooksLikePolarMesh(std::string_view bytes) {
  Lines lines(bytes);
  std::string_view line;
  int sixes = 0;
  for (int k = 0; k < 3; ++k) {
    if (!lines.Next(line)) return false;
    if (IsSixNumberLine(line, false)) ++sixes;
  }
  return sixes < 3 && lines.NextContent(line) && IsSixNumberLine(line, true);
}

}  // namespace

MapFormat DetectMapFormat(std::string_view bytes) {
  std::size_t cursor = 0;
  const std::string_view first = ReadToken(bytes, cursor);
  if (first == "Gs" || first == "T") return MapFormat::Sdf;
  if (LooksLikePolarMesh(bytes)) return MapFormat::PolarMesh;

  Lines lines(bytes);
  std::string_view line;
  if (!lines.NextContent(line)) return MapFormat::Sdf;
  if (IsTableComment(line)) {
    // A comment: only a table has them; its header or its first rows decide.
    while (IsTableComment(line))
      if (!lines.Next(line)) return MapFormat::Sdf;
    return LooksLikeTable(line, lines) ? MapFormat::Table : MapFormat::Sdf;
  }
  const Lines::Mark start = lines.mark();
  if (LooksLikeTable(line, lines)) return MapFormat::Table;
  lines.reset(start);
  // The record map's LABEL= line follows its four header numbers; the polar map has six.
  int singles = 0;
  bool single = true;
  for (int content = 0; content < 12; ++content) {
    const std::string_view t = TrimBlanks(line);
    if (StartsWith(t, "LABEL=") || StartsWith(t, "CFELD=")) return MapFormat::Records;
    double v = 0;
    single = single && CountWords(t) == 1 && ReadFileNumber(t, v);
    if (single) ++singles;
    if (!lines.NextContent(line)) break;
  }
  return singles >= 6 ? MapFormat::Polar : MapFormat::Sdf;
}

Result<FieldMap> ParseMap(std::string_view bytes, std::string_view name,
                          const MapReadingOptions& options) {
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  const MapFormat format =
      options.format == MapFormat::Auto ? DetectMapFormat(bytes) : options.format;
  const bool unitsGiven = options.rUnit != RadiusUnit::None ||
                          options.thetaUnit != AngleUnit::None || options.bUnit != FieldUnit::None;
  if (unitsGiven && format != MapFormat::Table)
    return RefuseMapFile(name,
                         std::string("--r-unit, --theta-unit and --b-unit give the units of a "
                                     "table's columns; this file is read as a ") +
                             MapFormatName(format) + " map");
  switch (format) {
    case MapFormat::Auto:
    case MapFormat::Sdf: {
      if (!options.AsGiven())
        return RefuseMapFile(
            name,
            "a .sdf map covers the full turn as it is: --replicate, --mirror, --negate "
            "and --reverse apply to polar, record and table maps");
      return ParseFieldMap(bytes);
    }
    case MapFormat::Polar:
      return ParsePolarMap(bytes, name, options);
    case MapFormat::Records:
      return ParseRecordMap(bytes, name, options);
    case MapFormat::Table:
      return ParseTableMap(bytes, name, options);
    case MapFormat::PolarMesh:
      return ParsePolarMeshMap(bytes, name, options);
  }
  return RefuseMapFile(name, "unknown map format");
}

namespace {

// The reading of a map file; its stamp too when asked for.
Result<FieldMap> ReadMapFile(const std::string& path, const MapReadingOptions& options,
                             FileStamp* stamp) {
  if (stamp != nullptr) *stamp = FileStamp{};
  if (Outcome o = CheckMapReadingOptions(options); !o) return o;
  FileBytes file = ReadWholeFile(path);
  const bool sdf =
      options.format == MapFormat::Sdf ||
      (options.format == MapFormat::Auto &&
       (file.status != ReadStatus::Ok || DetectMapFormat(file.bytes) == MapFormat::Sdf));
  Result<FieldMap> map = [&]() -> Result<FieldMap> {
    if (file.status == ReadStatus::Ok) return ParseMap(file.bytes, path, options);
    if (sdf) return ParseFieldMapFile(file);  // the *.sdf reader's own refusals
    return RefuseMapFile(path,
                         file.status == ReadStatus::CannotAllocate
                             ? std::string("not enough memory to read the file")
                             : "cannot open the file: " + std::string(std::strerror(file.error)));
  }();
  if (map && stamp != nullptr && file.status == ReadStatus::Ok)
    *stamp = StampOfBytes(path, file.bytes);
  if (map || !sdf) return map;
  // The *.sdf reader's texts do not name the file: the refusal carries it for the front ends.
  Failure failure = map.failure();
  if (failure.message.text.rfind(path + ": ", 0) != 0) failure.file = path;
  return failure;
}

}  // namespace

Result<FieldMap> ReadMap(const std::string& path, const MapReadingOptions& options,
                         FileStamp& stamp) {
  return ReadMapFile(path, options, &stamp);
}

Result<FieldMap> ReadMap(const std::string& path, const MapReadingOptions& options) {
  return ReadMapFile(path, options, nullptr);
}

}  // namespace zuba
