// The field map of the Python module: a map read from a file or made from arrays, immutable, with
// the radial moments that the field's interpolation needs formed once.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "calc/maps/field_map.h"
#include "numerics/field_patches.h"
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

  // The constant-time patches of the field, built on first use (any thread); the failure of the
  // build, if it failed.
  const Result<FieldPatches>& Patches() const {
    std::call_once(patchesBuilt_, [this] {
      patches_.emplace(FieldPatches::Build(h, map.radii, map.azimuths, map.field, moments));
    });
    return *patches_;
  }

  // "sdf", "polar", "records", "table", or "array" for a map made from arrays.
  std::string FormatName() const;
  // What names the map in messages: its path, or "FieldMap".
  std::string Name() const { return path ? *path : "FieldMap"; }

 private:
  mutable std::once_flag patchesBuilt_;
  mutable std::optional<Result<FieldPatches>> patches_;
};
using SharedMap = std::shared_ptr<MapHandle>;  // never changed after it is made

// Reads a map file with the reading options (the GIL released); a MapError when refused.
SharedMap ReadMapWith(const std::string& path, const MapReadingOptions& options);

// The map of a map already made, e.g. a corrected map as its *.sdf text gives it.
SharedMap MapOf(FieldMap map, std::optional<std::string> path, const MapReadingOptions& reading,
                const FileStamp& stamp);

}  // namespace zuba::python
