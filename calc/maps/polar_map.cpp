// The polar text map: six header numbers, one a line, then B_z (kG) radius after radius.
#include <cstdint>
#include <string>
#include <utility>

#include "calc/maps/lab_headers.h"
#include "calc/maps/map_formats.h"
#include "calc/maps/map_text.h"

namespace zuba {

Result<FieldMap> ParsePolarMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options) {
  Lines lines(bytes);
  double header[6] = {};
  int64_t headerLine[6] = {};
  Failure failure;
  if (!HeaderNumbers(lines, name, 6, header, headerLine, failure)) return failure;
  double dR = 0, dTheta = 0;  // mm, degree
  if (!HeaderStep(header[1], dR))
    return RefuseMapFile(name, LineText(headerLine[1]) + "the radius step must not be 0");
  if (!HeaderStep(header[3], dTheta))
    return RefuseMapFile(name, LineText(headerLine[3]) + "the azimuth step must not be 0");
  if (header[0] < 0)
    return RefuseMapFile(name, LineText(headerLine[0]) + "r_min must not be negative, found " +
                                   MessageNumber(header[0]) + " mm");
  int64_t nTheta = 0, nR = 0;
  if (!WholeCount(header[4], nTheta))
    return RefuseMapFile(name,
                         LineText(headerLine[4]) +
                             "expected N_theta, a whole number of azimuths from 1 on, found " +
                             MessageNumber(header[4]));
  if (!WholeCount(header[5], nR))
    return RefuseMapFile(name, LineText(headerLine[5]) +
                                   "expected N_r, a whole number of radii from 1 on, found " +
                                   MessageNumber(header[5]));
  // Every value takes a character and a separator: a header asking for more than the rest of the
  // file can hold is refused before anything is allocated.
  const int64_t count = nR * nTheta;
  if (count > static_cast<int64_t>(lines.remaining() / 2 + 1))
    return RefuseMapFile(name, "the header asks for N_r x N_theta = " + std::to_string(nR) + " x " +
                                   std::to_string(nTheta) + " values, more than the " +
                                   std::to_string(lines.remaining()) + " bytes after it can hold");

  GivenMap g;
  g.unit = "kG";
  g.field.reserve(static_cast<size_t>(count));
  std::string_view line;
  std::string error;
  while (lines.Next(line)) {
    ForEachWord(line, [&](std::string_view word) {
      double value = 0;
      if (static_cast<int64_t>(g.field.size()) == count) {
        error = LineText(lines.number()) + "expected the end of the file after the " +
                std::to_string(count) + " values of B_z (N_r x N_theta = " + std::to_string(nR) +
                " x " + std::to_string(nTheta) + "), found " + Quoted(word);
        return false;
      }
      if (!ReadFileNumber(word, value)) {
        const int64_t index = static_cast<int64_t>(g.field.size());
        error = LineText(lines.number()) + "expected B_z (kG) at radius " +
                std::to_string(index / nTheta + 1) + ", azimuth " +
                std::to_string(index % nTheta + 1) + ", found " + Quoted(word);
        return false;
      }
      g.field.push_back(value * 0.1);  // kG -> T
      return true;
    });
    if (!error.empty()) return RefuseMapFile(name, error);
  }
  if (static_cast<int64_t>(g.field.size()) < count)
    return RefuseMapFile(name, "the file ends after " + std::to_string(g.field.size()) +
                                   " of the " + std::to_string(count) +
                                   " values of B_z (N_r x N_theta = " + std::to_string(nR) + " x " +
                                   std::to_string(nTheta) + ")");

  SetHeaderMesh(g, header[0], dR, nR, header[2], dTheta, nTheta);
  return CompleteMap(std::move(g), name, MapFormat::Polar, options);
}

}  // namespace zuba
