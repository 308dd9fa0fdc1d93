// Results text report: the bytes of the header and the rows, and writing them to a file.
#include "results/report.h"

#include <array>
#include <span>
#include <type_traits>

#include "numerics/average_field.h"
#include "numerics/constants.h"
#include "numerics/units.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "results/run_fields.h"
#include "results/text.h"

namespace zuba {
namespace {
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kVt = '\v';
constexpr char kTab = '\t';

std::string F6(double value, std::vector<Failure>* failures) {
  return FormatFixed(value, 6, failures);
}

// The header of the report: the title, then one line for each run field that has one in the
// table, then for a precise run that knows it the tolerance of its closure. The values are
// converted from the last field of the table to the first (h first, EkBegin last), so that
// conversion messages come in that order.
std::string BuildHeader(const RunParameters& run, const ClosureTables& closure,
                        std::string_view fileTitle, std::vector<Failure>* failures) {
  std::array<std::string, kRunFieldCount> values;
  for (size_t i = kRunFields.size(); i-- > 0;) {
    const RunField& field = kRunFields[i];
    if (field.report.label == nullptr) continue;
    values[i] =
        VisitRunField(field, run, [&field, failures]<class T>(const T& value) -> std::string {
          if constexpr (std::is_same_v<T, double>)
            return FormatFixed(value, field.report.decimals, failures);
          else if constexpr (std::is_same_v<T, int32_t>)
            return FormatInt(value, failures);
          else
            return value;
        });
  }

  std::string header;
  header.reserve(512 + fileTitle.size() + run.Path.size() + run.ParticleName.size());
  auto line = [&header](std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) header += part;
    header += kLineEnd;
  };
  line({fileTitle});
  for (size_t i = 0; i < kRunFields.size(); ++i) {
    const RunFieldReportLine& report = kRunFields[i].report;
    if (report.label != nullptr) line({report.label, values[i], report.suffix});
  }
  if (closure.mode == 1 && closure.tolerance > 0)
    line({"Precise closure tolerance = ", FormatNumber(closure.tolerance)});
  line({"\vEk (MeV)\tRev (m)\tRmn (m)\tF0 (MHz)\tdReo (m)"});
  header += kVt;  // stands at the start of the first row
  return header;
}
}  // namespace

std::optional<std::string> BuildReport(const ResultTables& results, std::string_view fileTitle,
                                       std::vector<Failure>* failures) {
  const int64_t n = results.Ek.size();
  for (int64_t length : {results.Rmn.size(), results.Bmn.size(), results.Rev.size(),
                         results.F0.size(), results.dReo.size()}) {
    if (length != n) return std::nullopt;
  }
  std::string report = BuildHeader(results.run, results.closure, fileTitle, failures);
  report.reserve(report.size() + static_cast<size_t>(n) * 64);
  const auto ek = results.Ek.values();
  const auto rev = results.Rev.values();
  const auto rmn = results.Rmn.values();
  const auto f0 = results.F0.values();
  const auto dReo = results.dReo.values();
  // A precise run's energy that did not close has no values: its row says why.
  const ClosureTables& closure = results.closure;
  const auto status = closure.mode == 1 ? closure.status.values() : std::span<const int32_t>();
  for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
    report += F6(JoulesToMeV(ek[i]), failures);
    report += kTab;
    if (i < status.size() && (status[i] & kClosureStatusBits) != 0) {
      report += ClosureStatusText(status[i]);
      if (i < closure.reasons.size() && !closure.reasons[i].empty())
        report += ": " + closure.reasons[i];
      report += kLineEnd;
      continue;
    }
    // A precise orbit without Rev (its correction does not exist there) leaves the cell empty.
    if (closure.mode != 1 || rev[i] != kNoValue) report += F6(rev[i], failures);
    report += kTab;
    report += F6(rmn[i], failures);
    report += kTab;
    report += F6(f0[i] / 1.0e6, failures);
    report += kTab;
    report += F6(dReo[i], failures);
    report += kLineEnd;
  }
  if (n > 0) report += kLineEnd;  // the file ends with an empty line
  return report;
}

ReportSaving SaveResultsReportFile(const ResultTables& results, const std::string& path) {
  ReportSaving out;
  const size_t slash = path.find_last_of('/');
  const std::string_view title = slash == std::string::npos
                                     ? std::string_view(path)
                                     : std::string_view(path).substr(slash + 1);
  std::optional<std::string> report = BuildReport(results, title, &out.leftOut);
  if (!report) {
    const ResultTables& r = results;
    out.outcome =
        QuietFailure("the tables Ek, Rmn, Bmn, Rev, F0 and dReo differ in length (" +
                         std::to_string(r.Ek.size()) + ", " + std::to_string(r.Rmn.size()) + ", " +
                         std::to_string(r.Bmn.size()) + ", " + std::to_string(r.Rev.size()) + ", " +
                         std::to_string(r.F0.size()) + ", " + std::to_string(r.dReo.size()) +
                         "); no report is written",
                     "tables");
    return out;
  }
  if (!WriteFileAtomically(path, *report)) {
    Failure failure = ErrorFailure("Unable to open file for saving!", path);
    failure.message.owner = Owner::View;
    out.outcome = std::move(failure);
  }
  return out;
}

}  // namespace zuba
