// The field map of a run found again for the views: the map and orbits view and the harmonics view
// draw the map a record was computed in. The record keeps the map's path as the run was given it
// and the stamp of the file as the run read it; a map that is gone or has changed since is not
// drawn, and one line says so.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/outcome.h"
#include "results/field_grid.h"
#include "results/result_tables.h"

namespace zuba {

struct RunMap {
  std::shared_ptr<const FieldGrid> grid;  // the map to draw; null when there is none to draw
  std::string note;                       // one line for the user; empty when all is well
  std::string path;                       // the file found (empty when none was)
};

// The files a record's map path may name, in the order they are tried: an absolute path as it
// is; a relative one in the document's folder (when there is one), then in the current folder.
std::vector<std::string> RunMapCandidates(const std::string& mapPath,
                                          const std::string& documentFolder);

// Reads the map file of a record for the views. The one place that chooses the reader.
Result<FieldMap> ReadRunMapFile(const std::string& path, const ResultTables& results);

// The map of the record: the first candidate file that exists, when its contents are those the
// run read (or the record does not know them: then drawn with a note saying it is unchecked).
RunMap LoadRunMap(const ResultTables& results, const std::string& documentFolder);

// The record's map minus another map file (read by its content) interpolated on the record's
// mesh, for the map view: the difference as a grid and its name ("run.sdf - other.sdf").
// Refused, one line: the record's map not at hand (gone, changed since the run), the other map
// refused by its reader, maps that do not overlap.
struct RunMapDifference {
  std::shared_ptr<const FieldGrid> grid;
  std::string name;
};
Result<RunMapDifference> DifferenceToRunMap(const ResultTables& results,
                                            const std::string& documentFolder,
                                            const std::string& otherPath);

}  // namespace zuba
