// The text report of a run: a header that repeats the run description, then one row per energy
// step with the kinetic energy, two orbit radii, the rotation frequency and the closure error.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "results/result_tables.h"

namespace zuba {

// The report bytes (CR LF line ends, VT and TAB as laid out in report.cpp), or std::nullopt when
// the tables Ek, Rmn, Bmn, Rev, F0 and dReo differ in length. fileTitle is the first line: the
// name of the report file without its folder. A number that cannot be formatted shows its own
// message and is left out; the rest is written.
std::optional<std::string> BuildReport(const ResultTables& results, std::string_view fileTitle);

enum class ReportWrite { Written, TablesUnequal, CannotOpen };

// Writes the report to path, its title line being the file name without its folder.
// TablesUnequal: the per-energy tables differ in length; nothing is shown, no file is touched.
// CannotOpen: the file cannot be created or written; "Unable to open file for saving!" is shown
// (caption "Error", owned by the view) and an earlier file at path stays as it was, since the
// report is written to a temporary file beside it that replaces it only when complete.
ReportWrite SaveResultsReportFile(const ResultTables& results, const std::string& path);

}  // namespace zuba
