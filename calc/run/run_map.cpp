// The field map of a run found again (see run_map.h).
#include "calc/run/run_map.h"

#include <sys/stat.h>

#include <filesystem>

#include "calc/maps/map_difference.h"
#include "calc/maps/map_formats.h"
#include "platform/file_stamp.h"

namespace zuba {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> RunMapCandidates(const std::string& mapPath,
                                          const std::string& documentFolder) {
  if (mapPath.empty()) return {};
  if (mapPath.front() == '/') return {mapPath};
  std::vector<std::string> candidates;
  if (!documentFolder.empty()) {
    const bool slash = documentFolder.back() == '/';
    candidates.push_back(documentFolder + (slash ? "" : "/") + mapPath);
  }
  candidates.push_back(mapPath);
  return candidates;
}

Result<FieldMap> ReadRunMapFile(const std::string& path, const ResultTables& results) {
  // Read as the run read it: the same reader and the same symmetry.
  return ReadMap(path, results.mapReading);
}

RunMap LoadRunMap(const ResultTables& results, const std::string& documentFolder) {
  RunMap out;
  const std::string& stored = results.run.Path;
  if (stored.empty()) {
    out.note = "The run names no field map: the orbits are drawn alone.";
    return out;
  }
  for (const std::string& candidate : RunMapCandidates(stored, documentFolder)) {
    if (IsRegularFile(candidate)) {
      out.path = candidate;
      break;
    }
  }
  if (out.path.empty()) {
    out.note = "The field map " + stored + " is gone: the orbits are drawn alone.";
    return out;
  }
  if (results.mapFile.known() && !StampFile(out.path).SameContents(results.mapFile)) {
    out.note =
        "The field map " + out.path + " has changed since the run: the orbits are drawn alone.";
    return out;
  }
  Result<FieldMap> map = ReadRunMapFile(out.path, results);
  if (!map) {
    out.note = "The field map " + out.path + " cannot be read (" + map.message().text +
               "): the orbits are drawn alone.";
    return out;
  }
  auto grid = std::make_shared<FieldGrid>();
  grid->radii = std::move(map->radii);
  grid->azimuths = std::move(map->azimuths);
  grid->field = std::move(map->field);
  grid->thetaStart = map->thetaStart;
  grid->thetaEnd = map->thetaEnd;
  grid->path = out.path;
  out.grid = std::move(grid);
  if (!results.mapFile.known())
    out.note = "The field map " + out.path +
               " is drawn as it is now: this document does not record the file its run read.";
  return out;
}

Result<RunMapDifference> DifferenceToRunMap(const ResultTables& results,
                                            const std::string& documentFolder,
                                            const std::string& otherPath) {
  RunMap own = LoadRunMap(results, documentFolder);
  if (!own.grid) {
    std::string why = own.note;
    const size_t cut = why.find(": the orbits are drawn alone.");
    if (cut != std::string::npos) why.resize(cut);
    return ErrorFailure(why + ": there is no map of the run to take the difference from", "map");
  }
  Result<FieldMap> other = ReadMap(otherPath, MapReadingOptions{});
  if (!other) return other.outcome();
  FieldMap mine;
  mine.nR = own.grid->nR();
  mine.nTheta = own.grid->nTheta();
  mine.radii = own.grid->radii;
  mine.azimuths = own.grid->azimuths;
  mine.field = own.grid->field;
  mine.moments.assign(mine.field.size(), 0.0);
  mine.thetaStart = own.grid->thetaStart;
  mine.thetaEnd = own.grid->thetaEnd;
  Result<MapDifference> d = DifferenceOfMaps(mine, *other);
  if (!d) return ErrorFailure(own.path + " - " + otherPath + ": " + d.message().text, "map");
  RunMapDifference out;
  out.name = std::filesystem::path(own.path).filename().string() + " - " +
             std::filesystem::path(otherPath).filename().string();
  auto grid = std::make_shared<FieldGrid>();
  grid->radii = std::move(d->difference.radii);
  grid->azimuths = std::move(d->difference.azimuths);
  grid->field = std::move(d->difference.field);
  grid->thetaStart = d->difference.thetaStart;
  grid->thetaEnd = d->difference.thetaEnd;
  grid->path = out.name;
  out.grid = std::move(grid);
  return out;
}

}  // namespace zuba
