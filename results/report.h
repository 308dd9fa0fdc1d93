// The text report of a run: a header that repeats the run description (and a precise run's
// tolerance, when its record knows it), then one row per energy step with the kinetic energy, two
// orbit radii, the rotation frequency and the closure error. An energy of a precise run that did
// not close has its status and reason in place of the values ("failed: the orbit needs the field
// beyond the map (...)").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"
#include "results/result_tables.h"

namespace zuba {

// The report bytes (CR LF line ends, VT and TAB as laid out in report.cpp), or std::nullopt when
// the tables Ek, Rmn, Bmn, Rev, F0 and dReo differ in length. fileTitle is the first line: the
// name of the report file without its folder. A number that cannot be formatted is left out (the
// rest is written) and its failure appended to failures when given.
std::optional<std::string> BuildReport(const ResultTables& results, std::string_view fileTitle,
                                       std::vector<Failure>* failures = nullptr);

// What writing a report gave: its outcome and the failures of the numbers left out (the rest was
// written). A failure writes nothing and leaves an earlier file at path as it was (the report is
// written to a temporary file beside it that replaces it only when complete): tables Ek, Rmn,
// Bmn, Rev, F0 and dReo of unequal length (a quiet failure naming their lengths, subject
// "tables"), or a file that cannot be created or written ("Unable to open file for saving!",
// caption "Error", owned by the view, subject the path).
struct ReportSaving {
  Outcome outcome;
  std::vector<Failure> leftOut;
};

// Writes the report to path, its title line being the file name without its folder.
ReportSaving SaveResultsReportFile(const ResultTables& results, const std::string& path);

}  // namespace zuba
