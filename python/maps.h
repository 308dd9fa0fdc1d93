// The field map of the Python module: a map read from a file or made from arrays, immutable, with
// the radial moments that the field's interpolation needs formed once.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/file_stamp.h"
#include "platform/outcome.h"
#include "results/map_reading.h"

namespace zuba::python {

struct MapHandle {
  FieldMap map;                     // moments zero, as a reader gives it
  std::vector<double> h, moments;   // m and T/m^2: the radial steps and moments of the field
  Outcome momentsFormed;            // why they could not be formed, if not
  std::optional<std::string> path;  // the file read; none for a map made from arrays
  MapReadingOptions reading;        // how the file was read
  FileStamp stamp;                  // the file as it was read

  // "sdf", "polar", "records", "table", or "array" for a map made from arrays.
  std::string FormatName() const;
  // What names the map in messages: its path, or "FieldMap".
  std::string Name() const { return path ? *path : "FieldMap"; }
};
using SharedMap = std::shared_ptr<MapHandle>;  // never changed after it is made

}  // namespace zuba::python
