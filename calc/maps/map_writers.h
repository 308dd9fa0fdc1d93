// Writing a field map in every format that is read: the program's own *.sdf (sdf_writer.h), the
// polar text map, the column table and the polar-mesh map. Each writes the full turn as the map is
// held (after the reading options) on the same mesh, the values to 17 significant digits at most
// (the shortest text that reads back as the same number), so that reading a written file gives the
// map back to the precision written; a format that cannot hold the mesh is refused with the
// reason, never resampled (only *.sdf resamples, and only where asked with a step).
#pragma once

#include <optional>
#include <string>

#include "calc/maps/field_map.h"
#include "calc/maps/sdf_writer.h"
#include "platform/outcome.h"
#include "results/map_reading.h"

namespace zuba {

// The polar text map: six header numbers, one a line (r_min and the radius step in mm, the first
// azimuth and the azimuth step in degrees, a step of 1/k degree written -k, the azimuth and radius
// counts), then B_z in kG radius by radius, azimuth fastest. Refused: radii not equally spaced.
Result<std::string> PolarMapText(const FieldMap& map);

// The column table: the header line `R_m theta_deg B_T`, then one node a row, tab-separated,
// radius by radius, azimuth fastest. Refused: radii or azimuths closer than the table reader tells
// apart (1e-9 of their range).
Result<std::string> TableMapText(const FieldMap& map);

// The polar-mesh map: three header lines, the line of six numbers (azimuth count with the
// closing azimuth, radius count, total angle 360, the middle radius in cm as reference radius,
// 1 and 1), then the azimuths (rad) of the full turn and its closing azimuth, the radii (cm) and
// B_z (kG) radius by radius, azimuth fastest (the closing column equal to the first). Refused:
// radii not equally spaced.
Result<std::string> PolarMeshText(const FieldMap& map);

// How a map is to be written: the format, and for *.sdf the unit and a resampling step.
struct MapWriting {
  MapFormat format = MapFormat::Sdf;  // Sdf, Polar, Table or PolarMesh
  std::string sdfUnit;                // "Gs", "T" or empty (*.sdf only)
  std::optional<double> sdfDTheta;    // degree (*.sdf only)
};

// The text of the map in the format asked, and for *.sdf what the conversion did.
struct MapFileText {
  std::string text;
  std::optional<SdfConversion> sdf;
};
Result<MapFileText> WriteMapText(const FieldMap& map, const MapWriting& how);

}  // namespace zuba
