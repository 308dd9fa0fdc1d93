// The polar-mesh map of ray-tracing codes: three header lines, a line of six numbers (the azimuth
// and radius counts, the total angle of the mesh in degrees, a reference radius in cm, two
// integers), then every number in any line breaks: the azimuths (rad), the radii (cm), and B_z
// (kG) radius by radius, azimuth fastest.
//
// The mesh is the uniform one of the header: the azimuths step by the total angle over one less
// than their count from the first listed azimuth, the radii evenly from the first to the last
// listed. Real files list the nodes rounded (44.9955° for 45°): each listed value must lie within
// 2 % of a step of the uniform mesh, and the map is read on that mesh.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "calc/maps/map_formats.h"
#include "calc/maps/map_text.h"
#include "numerics/units.h"

namespace zuba {
namespace {

// How far a listed node may lie from the uniform mesh, in steps.
constexpr double kNodeTolerance = 0.02;

// A whole number of the int32 range of any sign (the header's last two numbers).
bool WholeInteger(double value) {
  return std::fabs(value) <= static_cast<double>(kInt32Max) && value == std::floor(value);
}

// The header line's six numbers.
struct MeshHeader {
  int64_t nTheta = 0, nR = 0;
  double totalAngle = 0;  // degree
  int64_t line = 0;
};

const char* const kHeaderMeaning =
    "six numbers: the azimuth count, the radius count, the total angle (degree), a reference "
    "radius (cm) and two integers";

bool ReadHeader(Lines& lines, std::string_view name, MeshHeader& h, Failure& failure) {
  std::string_view line;
  for (int k = 1; k <= 3; ++k) {
    if (!lines.Next(line)) {
      failure = RefuseMapFile(name, "the file ends within its three header lines");
      return false;
    }
  }
  if (!lines.NextContent(line)) {
    failure = RefuseMapFile(
        name, std::string("the file ends where the line of ") + kHeaderMeaning + " should follow");
    return false;
  }
  h.line = lines.number();
  double v[6] = {};
  int count = 0;
  bool numbers = true;
  ForEachWord(line, [&](std::string_view word) {
    if (count < 6 && !ReadFileNumber(word, v[count])) numbers = false;
    ++count;
    return numbers;
  });
  if (!numbers || count != 6) {
    failure = RefuseMapFile(name, LineText(h.line) + "expected " + kHeaderMeaning + ", found " +
                                      Quoted(TrimBlanks(line)));
    return false;
  }
  if (!WholeCount(v[0], h.nTheta) || h.nTheta < 2) {
    failure = RefuseMapFile(name, LineText(h.line) +
                                      "expected the azimuth count, a whole number from 2 on, "
                                      "found " +
                                      MessageNumber(v[0]));
    return false;
  }
  if (!WholeCount(v[1], h.nR)) {
    failure = RefuseMapFile(
        name, LineText(h.line) + "expected the radius count, a whole number from 1 on, found " +
                  MessageNumber(v[1]));
    return false;
  }
  if (!(v[2] > 0 && v[2] <= 360 * (1 + 1e-9))) {
    failure = RefuseMapFile(name, LineText(h.line) +
                                      "expected the total angle of the mesh, above 0 and at most "
                                      "360 degrees, found " +
                                      MessageNumber(v[2]));
    return false;
  }
  if (!WholeInteger(v[4]) || !WholeInteger(v[5])) {
    failure = RefuseMapFile(name, LineText(h.line) +
                                      "expected two integers after the reference radius, found " +
                                      MessageNumber(v[4]) + " and " + MessageNumber(v[5]));
    return false;
  }
  h.totalAngle = v[2];
  return true;
}

// The uniform mesh start + k step from the first listed value, and the listed value farthest from
// it.
struct MeshFit {
  double start = 0;
  double worst = 0;  // largest |value - (start + k step)|
  int64_t worstIndex = 0;
};
MeshFit FitMesh(const std::vector<double>& values, double step) {
  MeshFit fit;
  fit.start = values.front();
  for (size_t k = 0; k < values.size(); ++k) {
    const double off = std::fabs(values[k] - (fit.start + static_cast<double>(k) * step));
    if (off > fit.worst) {
      fit.worst = off;
      fit.worstIndex = static_cast<int64_t>(k);
    }
  }
  return fit;
}

// What the value at position `index` of the file's list of numbers is, for a message.
std::string ExpectedNumber(const MeshHeader& h, int64_t index) {
  if (index < h.nTheta)
    return "azimuth " + std::to_string(index + 1) + " of " + std::to_string(h.nTheta) + " (rad)";
  if (index < h.nTheta + h.nR)
    return "radius " + std::to_string(index - h.nTheta + 1) + " of " + std::to_string(h.nR) +
           " (cm)";
  const int64_t node = index - h.nTheta - h.nR;
  return "B_z (kG) at radius " + std::to_string(node / h.nTheta + 1) + ", azimuth " +
         std::to_string(node % h.nTheta + 1);
}

// The numbers after the header: the azimuths (degree), the radii (cm) and B_z (T, into
// g.field), `count` of them and no more.
Outcome ReadMeshNumbers(Lines& lines, std::string_view name, const MeshHeader& h, int64_t count,
                        std::vector<double>& azimuths, std::vector<double>& radii, GivenMap& g) {
  int64_t read = 0;
  std::string error;
  std::string_view line;
  while (error.empty() && lines.Next(line)) {
    ForEachWord(line, [&](std::string_view word) {
      double value = 0;
      if (read == count) {
        error = LineText(lines.number()) + "expected the end of the file after its " +
                std::to_string(count) + " numbers, found " + Quoted(word);
        return false;
      }
      if (!ReadFileNumber(word, value)) {
        error = LineText(lines.number()) + "expected " + ExpectedNumber(h, read) + ", found " +
                Quoted(word);
        return false;
      }
      if (read < h.nTheta)
        azimuths.push_back(Degrees(value));
      else if (read < h.nTheta + h.nR)
        radii.push_back(value);
      else
        g.field.push_back(value * 0.1);  // kG -> T
      ++read;
      return true;
    });
  }
  if (!error.empty()) return RefuseMapFile(name, error);
  if (read < count)
    return RefuseMapFile(name, "the file ends after " + std::to_string(read) + " of its " +
                                   std::to_string(count) + " numbers, where " +
                                   ExpectedNumber(h, read) + " should follow");
  return {};
}

// The mesh of g from the listed azimuths (on the header's uniform mesh) and radii (evenly from the
// first to the last).
Outcome SetListedMesh(GivenMap& g, std::string_view name, const MeshHeader& h,
                      const std::vector<double>& azimuths, const std::vector<double>& radii) {
  const double step = h.totalAngle / static_cast<double>(h.nTheta - 1);  // degree
  const MeshFit theta = FitMesh(azimuths, step);
  if (theta.worst > kNodeTolerance * step)
    return RefuseMapFile(
        name, "azimuth " + std::to_string(theta.worstIndex + 1) + " lies at " +
                  MessageNumber(azimuths[static_cast<size_t>(theta.worstIndex)]) + "\xC2\xB0, " +
                  MessageNumber(theta.worst) + "\xC2\xB0 off the uniform mesh of the header (" +
                  std::to_string(h.nTheta) + " azimuths over " + MessageNumber(h.totalAngle) +
                  "\xC2\xB0): more than 2 % of its step " + MessageNumber(step) + "\xC2\xB0");
  double dR = 0;  // cm
  if (h.nR >= 2) {
    dR = (radii.back() - radii.front()) / static_cast<double>(h.nR - 1);
    if (!(dR > 0))
      return RefuseMapFile(name, "the radii do not increase: the first is " +
                                     MessageNumber(radii.front()) + " cm, the last " +
                                     MessageNumber(radii.back()) + " cm");
  }
  const MeshFit r = FitMesh(radii, dR);
  if (h.nR >= 2 && r.worst > kNodeTolerance * dR)
    return RefuseMapFile(name, "radius " + std::to_string(r.worstIndex + 1) + " lies at " +
                                   MessageNumber(radii[static_cast<size_t>(r.worstIndex)]) +
                                   " cm, " + MessageNumber(r.worst) +
                                   " cm off the radii evenly spaced from the first to the last: "
                                   "more than 2 % of their step " +
                                   MessageNumber(dR) + " cm");
  if (!(r.start >= 0))
    return RefuseMapFile(name,
                         "the first radius " + MessageNumber(r.start) + " cm must not be negative");

  g.radii.resize(static_cast<size_t>(h.nR));
  for (int64_t j = 0; j < h.nR; ++j)
    g.radii[static_cast<size_t>(j)] = (r.start + static_cast<double>(j) * dR) / 100;  // cm -> m
  g.thetaMin = Radians(theta.start);
  g.dTheta = Radians(step);
  g.dThetaDegrees = step;
  g.nTheta = static_cast<int32_t>(h.nTheta);
  return {};
}

}  // namespace

Result<FieldMap> ParsePolarMeshMap(std::string_view bytes, std::string_view name,
                                   const MapReadingOptions& options) {
  Lines lines(bytes);
  MeshHeader h;
  Failure failure;
  if (!ReadHeader(lines, name, h, failure)) return failure;
  // Every number takes a character and a separator: a header asking for more than the rest of the
  // file can hold is refused before anything is allocated.
  const int64_t values = h.nR * h.nTheta;
  const int64_t count = h.nTheta + h.nR + values;
  if (values > kInt32Max || count > static_cast<int64_t>(lines.remaining() / 2 + 1))
    return RefuseMapFile(name, LineText(h.line) + "the header asks for " +
                                   std::to_string(h.nTheta) + " azimuths, " + std::to_string(h.nR) +
                                   " radii and " + std::to_string(h.nR) + " x " +
                                   std::to_string(h.nTheta) + " values of B_z, more than the " +
                                   std::to_string(lines.remaining()) + " bytes after it can hold");

  std::vector<double> azimuths, radii;  // degree, cm
  GivenMap g;
  g.unit = "kG";
  azimuths.reserve(static_cast<size_t>(h.nTheta));
  radii.reserve(static_cast<size_t>(h.nR));
  g.field.reserve(static_cast<size_t>(values));
  if (Outcome read = ReadMeshNumbers(lines, name, h, count, azimuths, radii, g); !read) return read;
  if (Outcome mesh = SetListedMesh(g, name, h, azimuths, radii); !mesh) return mesh;
  return CompleteMap(std::move(g), name, MapFormat::PolarMesh, options);
}

}  // namespace zuba
