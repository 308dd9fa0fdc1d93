// How a field map file is read: its format, the symmetry that completes it to the full turn, and
// the units of a column table that has no header. The options travel with the results of a run,
// so that a document says how its map was read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zuba {

// The formats of field map files. Auto chooses by the file's content.
enum class MapFormat : int32_t {
  Auto = 0,
  Sdf = 1,      // the program's own *.sdf: unit token, rounded header, values in Gs or T
  Polar = 2,    // six header numbers (mm, degree), then B_z in kG with θ running fastest
  Records = 3,  // four header numbers, labelled parameter blocks, one record of B_z and its
                // azimuthal derivatives per radius (kG), fixed-width fields
  Table = 4,    // one row per node: R, θ, B_z (CSV, TSV or blank-separated)
  PolarMesh = 5,  // three header lines, six numbers (azimuth and radius counts, total angle, a
                  // reference radius, two integers), the azimuths (rad), the radii (cm), then
                  // B_z in kG radius by radius, azimuth fastest
};
// The last format: the formats are 0 .. kLastMapFormat.
inline constexpr MapFormat kLastMapFormat = MapFormat::PolarMesh;

// Units of a table's columns when its header does not name them (None: take the header's).
enum class RadiusUnit : int32_t { None = 0, Metre = 1, Millimetre = 2 };
enum class AngleUnit : int32_t { None = 0, Degree = 1, Radian = 2 };
enum class FieldUnit : int32_t { None = 0, Tesla = 1, Gauss = 2, Kilogauss = 3 };

struct MapReadingOptions {
  MapFormat format = MapFormat::Auto;
  // The file holds one sector of this many (0: the file covers the full turn).
  int32_t replicate = 0;
  // The file holds half a sector (180°/replicate), mirror-symmetric about its last azimuth.
  bool mirror = false;
  bool negate = false;   // the field's sign is flipped (a map for negative ions)
  bool reverse = false;  // the azimuth runs the other way (measured against the motion)
  RadiusUnit rUnit = RadiusUnit::None;
  AngleUnit thetaUnit = AngleUnit::None;
  FieldUnit bUnit = FieldUnit::None;

  // Nothing but the format is set: the map is taken as the file gives it.
  bool AsGiven() const {
    return replicate == 0 && !mirror && !negate && !reverse && rUnit == RadiusUnit::None &&
           thetaUnit == AngleUnit::None && bUnit == FieldUnit::None;
  }
  // How a *.sdf map is read, chosen or found: what a document leaves unsaid.
  bool IsDefault() const {
    return AsGiven() && (format == MapFormat::Auto || format == MapFormat::Sdf);
  }
  bool operator==(const MapReadingOptions&) const = default;
};

// The names used on the command line and in messages: "auto", "sdf", "polar", "records", "table",
// "polar-mesh";
// "m", "mm"; "deg", "rad"; "T", "Gs", "kG". Parsing takes exactly these names.
const char* MapFormatName(MapFormat format);
const char* RadiusUnitName(RadiusUnit unit);
const char* AngleUnitName(AngleUnit unit);
const char* FieldUnitName(FieldUnit unit);
std::optional<MapFormat> ParseMapFormat(std::string_view name);
std::optional<RadiusUnit> ParseRadiusUnit(std::string_view name);
std::optional<AngleUnit> ParseAngleUnit(std::string_view name);
std::optional<FieldUnit> ParseFieldUnit(std::string_view name);

// One line for people: "polar map, one sector of 8 replicated, sign flipped", ".sdf map as given".
std::string DescribeMapReading(const MapReadingOptions& options);

}  // namespace zuba
