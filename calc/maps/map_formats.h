// Field maps as laboratories keep them: the readers of the polar text map, the measured-record map
// and the column table, the completion of a sector (or half a sector) to the full turn, and the
// one entry that reads a map file of any format with the reading options of a run.
//
// Every reader gives the FieldMap the calculation uses, with the mesh as the file gives it (an
// azimuth step of 1/3° stays 1/3°). A refusal is one line naming the file, the line (or record)
// and what was expected; nothing is allocated beyond what the file's length can hold before the
// file has shown that it holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "calc/maps/field_map.h"
#include "platform/file_stamp.h"
#include "platform/outcome.h"
#include "results/map_reading.h"

namespace zuba {

// Largest sector count of --replicate: a sector of at least 1°.
inline constexpr int32_t kMaxReplicate = 360;

// The format of a map file by its content: *.sdf when the first token is a unit ("Gs", "T"); the
// polar-mesh map when its fourth line holds six numbers, the two counts and the last two whole,
// and the lines before it do not; the record map when a LABEL= or CFELD= line follows its header; the polar map when its first six
// lines hold one number each; the table when its first line names the columns or holds three or
// more numbers. Anything else is taken for *.sdf, whose reader then says what is wrong.
MapFormat DetectMapFormat(std::string_view bytes);

// Reads the file with the reader that options.format names (Auto: by content) and completes the
// map as the options say. A *.sdf map is read exactly as ReadFieldMap reads it (the same
// refusals); the symmetry and unit options are refused on it. `format` of the map says which
// reader read it.
Result<FieldMap> ReadMap(const std::string& path, const MapReadingOptions& options);

// The same, with the stamp of the bytes read (one read of the file for both).
Result<FieldMap> ReadMap(const std::string& path, const MapReadingOptions& options,
                         FileStamp& stamp);

// The same on the file's bytes; `name` stands for the file in the messages.
Result<FieldMap> ParseMap(std::string_view bytes, std::string_view name,
                          const MapReadingOptions& options);

// The readers of the laboratory formats, each followed by the completion of the options.
Result<FieldMap> ParsePolarMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options);
Result<FieldMap> ParseRecordMap(std::string_view bytes, std::string_view name,
                                const MapReadingOptions& options);
Result<FieldMap> ParseTableMap(std::string_view bytes, std::string_view name,
                               const MapReadingOptions& options);
Result<FieldMap> ParsePolarMeshMap(std::string_view bytes, std::string_view name,
                                   const MapReadingOptions& options);

// A map as a file gives it, before it is completed to the full turn.
struct GivenMap {
  std::string unit;           // the file's unit of B_z
  std::vector<double> radii;  // m, increasing
  double thetaMin = 0;        // rad, the first column
  double dTheta = 0;          // rad, the column step, > 0
  double dThetaDegrees = 0;   // degree, the same step as the file states it (for messages)
  int32_t nTheta = 0;         // columns in the file
  std::vector<double> field;  // T, radius-major: iR * nTheta + iTheta
};

// Completes a map to the full turn: checks that it covers the turn (or, with --replicate N, one
// sector of 360°/N, or with --mirror also half a sector 180°/N), drops a closing column equal to
// the first, mirrors, replicates, reverses the azimuth and flips the sign as the options say.
Result<FieldMap> CompleteMap(GivenMap given, std::string_view name, MapFormat format,
                             const MapReadingOptions& options);

// The options that no file can satisfy (a sector count out of range, --mirror without
// --replicate); an ok outcome otherwise. The command line refuses these as usage errors.
Outcome CheckMapReadingOptions(const MapReadingOptions& options);

}  // namespace zuba
